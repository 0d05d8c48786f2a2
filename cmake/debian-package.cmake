# The Debian package (cpack --preset deb): build-deb/aoplay_<version>_<arch>.deb. Its
# dependencies are read off the binaries (dpkg-shlibdeps), so a library linked in later comes
# along by itself.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME aoplay)
set(CPACK_PACKAGE_VERSION ${AOPLAY_VERSION})
set(CPACK_PACKAGE_VENDOR "aoplay developers")
set(CPACK_PACKAGE_CONTACT "${AOPLAY_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${AOPLAY_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "play a waveform out of a data-acquisition board's analog output")
set(CPACK_PACKAGE_DESCRIPTION [=[
aoplay reads a text table on standard input, takes one column of it as values
in volts, and plays them out of analog output channel 0 of a data-acquisition
board, one value per sample, paced by the board's own continuous input scan. A
status line shows the sample number and value once a second of samples; any
key ends the run, stops the scan and returns the output to 0 V.

It plays on any board the kernel's Comedi drivers support (with
AOPLAY_BOARD=comedi, on /dev/comedi0), and by default on a simulated board, so
runs can be tried and checked with no hardware. Either board writes a trace of
every output on request; aoplay-plot draws such a trace with gnuplot: the
output voltage over time, the samples the run missed, and the summary of each
scan.]=])
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS gnuplot-nox)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# The build machine's umask must not reach the package's folders.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
