# What asking a Comedi device's buffer costs, and what the board's status call costs beside it;
# runs in the VM bench (bench/comedi-poll).
if(benchmark_FOUND AND AOPLAY_HAVE_COMEDI)
  add_executable(bench_comedi_status ${CMAKE_CURRENT_LIST_DIR}/comedi_status.cpp)
  target_link_libraries(bench_comedi_status PRIVATE board benchmark::benchmark)
endif()
