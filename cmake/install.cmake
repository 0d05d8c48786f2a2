# What `cmake --install` puts in place off Windows: both programs, their manual pages
# (compressed, as Debian wants them and man reads them everywhere), and in the doc folder the
# README, the boards' READMEs where the README's links expect them, the examples, the copyright
# and the changelog.
include(GNUInstallDirs)

set(AOPLAY_MAINTAINER "aoplay developers <aoplay@example.org>"
    CACHE STRING "Name and address in the package, its changelog and its copyright file")

install(TARGETS aoplay aoplay-plot RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (cpack, cmake --install --strip) drops the compiler's notes too, as
# Debian's own packages do.
if(CMAKE_STRIP)
  foreach(program aoplay aoplay-plot)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
    endif()")
  endforeach()
endif()

# Compressed copies in the build folder: gzip -n keeps no name or time, so the package is the
# same whenever it is built.
find_program(AOPLAY_GZIP gzip)
function(aoplay_install_compressed source destination)
  get_filename_component(name ${source} NAME)
  set(copy ${PROJECT_BINARY_DIR}/compressed/${name})
  if(AOPLAY_GZIP)
    add_custom_command(OUTPUT ${copy}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
      COMMAND ${AOPLAY_GZIP} -9 -n -f ${copy}
      DEPENDS ${source} VERBATIM)
    add_custom_target(compressed_${name} ALL DEPENDS ${copy}.gz)
    install(FILES ${copy}.gz DESTINATION ${destination})
  else()
    install(FILES ${source} DESTINATION ${destination})
  endif()
endfunction()

aoplay_install_compressed(${PROJECT_SOURCE_DIR}/aoplay.1 ${CMAKE_INSTALL_MANDIR}/man1)
aoplay_install_compressed(${PROJECT_SOURCE_DIR}/aoplay-plot.1 ${CMAKE_INSTALL_MANDIR}/man1)

# Each file keeps its place in the source tree, so the README's links work in the doc folder.
foreach(doc README.md board/README.md board/sim/README.md board/comedi/README.md)
  get_filename_component(folder ${doc} DIRECTORY)
  install(FILES ${doc} DESTINATION ${CMAKE_INSTALL_DOCDIR}/${folder})
endforeach()
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

configure_file(package/debian/copyright.in package/copyright @ONLY)
configure_file(package/debian/changelog.in package/changelog @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
aoplay_install_compressed(${PROJECT_BINARY_DIR}/package/changelog ${CMAKE_INSTALL_DOCDIR})
