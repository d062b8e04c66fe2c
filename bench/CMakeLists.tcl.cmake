# Console output rate of the Tcl host beside tclsh. Included from
# bench/CMakeLists.txt: include(${CMAKE_CURRENT_SOURCE_DIR}/CMakeLists.tcl.cmake)
add_executable(bench_tcl_console ${CMAKE_CURRENT_LIST_DIR}/bench_tcl_console.cpp)
target_link_libraries(bench_tcl_console PRIVATE vorla_core)
