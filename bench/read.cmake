# The reader on a large table: bench/read runs it beside mawk and wc.
add_executable(bench_read ${CMAKE_CURRENT_LIST_DIR}/read_main.cpp)
target_link_libraries(bench_read PRIVATE aoplay_core)
