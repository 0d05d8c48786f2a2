# bench/poll: the tool's poll loop against the board calls alone.
add_executable(bench_poll_floor ${CMAKE_CURRENT_LIST_DIR}/poll_floor.cpp)
target_link_libraries(bench_poll_floor PRIVATE board)
