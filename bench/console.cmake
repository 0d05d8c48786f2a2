# The key test in the playback's poll loop, against a bare FIONREAD on the terminal. It needs a
# controlling terminal: run it in tmux, or `sleep 60 | script -qec bench/console_bench /dev/null`
# (script's standard input must stay open: at its end script types Ctrl-D, which is a key).
if(benchmark_FOUND AND NOT WIN32)
  add_executable(console_bench ${CMAKE_CURRENT_LIST_DIR}/console_key_bench.cpp
                               ${PROJECT_SOURCE_DIR}/src/console_posix.cpp)
  target_include_directories(console_bench PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(console_bench PRIVATE benchmark::benchmark)
endif()
