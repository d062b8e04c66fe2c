# Benchmarks that need the Qt panes.
if(VORLA_BUILD_GUI)
  add_executable(bench_terminal_ingest ${CMAKE_CURRENT_LIST_DIR}/bench_terminal_ingest.cpp)
  target_link_libraries(bench_terminal_ingest PRIVATE vorla_gui)
endif()
if(VORLA_BUILD_GUI)
  add_executable(bench_startup ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cpp)
  target_link_libraries(bench_startup PRIVATE vorla_gui Qt6::Test)
endif()
