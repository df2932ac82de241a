# Packages made with cpack (or the "package" target) in the build directory:
# a Debian package on Linux, a zip for 32-bit Windows.

set(CPACK_PACKAGE_NAME dravolin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Dravolin developers")
set(CPACK_PACKAGE_CONTACT "The Dravolin developers <dravolin@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "report which data files of the record manager are in use")
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_STRIP_FILES ON)
# Only binary packages: a source package would be made from the work tree.
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME dravolin-${PROJECT_VERSION}-win32)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The architecture comes from dpkg, and the dependencies from what the
  # binaries link, through dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The client library lies in a directory that the loader searches, so its
  # cache is brought up to date whenever the package comes or goes.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/triggers)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the rest.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Dravolin tells an administrator which data files of the record manager are
held open by someone else. It tries to open every file that matches a
wildcard specification in exclusive mode through the engine's client
library, prints a line for each file and a summary, and exits with a status
that a shell script can act on: the number of free files, or of files in use.
.
This package holds the command, its local client library, which answers
whether any other process has a file open, and dravolin-hold, which holds
files open as another user of the data files would.")
endif()

include(CPack)
