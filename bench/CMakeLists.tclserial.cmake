# The serial Tcl commands against a simulated modem. Included from
# bench/CMakeLists.txt: include(${CMAKE_CURRENT_SOURCE_DIR}/CMakeLists.tclserial.cmake)
if(TARGET devsim)
  add_executable(bench_tcl_serial ${CMAKE_CURRENT_LIST_DIR}/bench_tcl_serial.cpp)
  target_link_libraries(bench_tcl_serial PRIVATE vorla_core devsim)
endif()
