# What asking a Comedi device's buffer costs; runs in the VM bench (tests/vm/run).
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(AOPLAY_VM_COMEDILIB QUIET IMPORTED_TARGET comedilib)
endif()
if(benchmark_FOUND AND TARGET PkgConfig::AOPLAY_VM_COMEDILIB)
  add_executable(bench_comedi_buffer ${CMAKE_CURRENT_LIST_DIR}/comedi_buffer.cpp)
  target_link_libraries(bench_comedi_buffer PRIVATE PkgConfig::AOPLAY_VM_COMEDILIB
                                                    benchmark::benchmark)
endif()
