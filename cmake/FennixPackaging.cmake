# The Debian package of a Linux build (`cpack -G DEB` in its build folder; the
# ./run package step does that for the release build). It holds what the
# install rules put into /usr.
if(WIN32)
  return()
endif()

set(CPACK_PACKAGE_NAME fennix)
set(CPACK_PACKAGE_VENDOR "The Fennix authors")
set(CPACK_PACKAGE_CONTACT "The Fennix authors <fennix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flash firmware into Qualcomm MSM devices and back up their NV items")
set(CPACK_PACKAGE_DESCRIPTION
  "libFennix flashes firmware into handsets and USB data modems built on Qualcomm\n\
MSM chipsets over serial ports, several at once, and backs up and restores their\n\
NV items. The package holds the library, its C header, the fennix command-line\n\
tool, CMake and pkg-config files for programs that use the library, an\n\
example udev rule for access to the modem driver's serial ports, and an\n\
example systemd unit and config file that run the tool's station as a service.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libFennix.so is in the package's own lib folder: dpkg-shlibdeps must not
# look for it among the installed packages.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
