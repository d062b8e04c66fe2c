# Cross build for 64-bit Windows with Debian's MinGW-w64 (the -posix variant:
# its libstdc++ has std::thread and std::mutex). VORLA_WINDOWS_PREFIX is where
# scripts/build-windows.sh installed Tcl (and Qt, for the GUI).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORLA_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORLA_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORLA_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VORLA_MINGW}-windres)

set(VORLA_WINDOWS_PREFIX "" CACHE PATH "Where the Windows builds of Tcl (and Qt) are installed")
set(CMAKE_FIND_ROOT_PATH /usr/${VORLA_MINGW} ${VORLA_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry the compiler's runtime, so they need no MinGW DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
