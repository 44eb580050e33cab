# The Debian package: `cpack -G DEB` in the build folder makes quillon_<version>_<arch>.deb
# from the install rules. The libraries it needs are found by dpkg-shlibdeps; the Qt
# platform plugins are named by hand, since the wizard cannot open a window without them
# and nothing links them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR "Veldra Pty. Ltd.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QUILLON_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "upload new firmware into Veldra devices over a serial port")
set(CPACK_PACKAGE_INSTALL_DIRECTORY quillon)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-dejavu-core)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quillon reprograms a Veldra device through its bootloader over a serial port.
A wizard (quillon) walks through the licence agreement and the choice of the
port, detects the device when it is powered up, judges the firmware it carries
against the device's versions and board type, uploads it, has the device check
it and starts it. The same engine serves a command-line front end for scripts
and production lines (quillon-cli) and a device simulator (quillon-devsim) for
trying everything out without hardware.")
include(CPack)
