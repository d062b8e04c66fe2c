# expect latency and a matched stream against a simulated device. Included
# from bench/CMakeLists.txt with the other CMakeLists.*.cmake parts.
if(TARGET devsim)
  add_executable(bench_expect ${CMAKE_CURRENT_LIST_DIR}/bench_expect.cpp)
  target_link_libraries(bench_expect PRIVATE vorla_core devsim)
endif()
