# What a status poll and a traced output cost on the simulated board.
if(benchmark_FOUND)
  add_executable(bench_board_status ${CMAKE_CURRENT_LIST_DIR}/board_status.cpp)
  target_link_libraries(bench_board_status PRIVATE board benchmark::benchmark)
endif()
