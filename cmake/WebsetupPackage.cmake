# `cpack` (from the build tree) makes a Debian package of what `cmake
# --install` installs: the tools, the stub template and the manual pages.
# Debian packages install under /usr whatever CMAKE_INSTALL_PREFIX says.
set(WEBSETUP_PACKAGE_MAINTAINER "websetup maintainers <websetup@localhost>" CACHE STRING
    "Maintainer field of the Debian package (name <address>)")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME websetup)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${WEBSETUP_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${WEBSETUP_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "web-installer stub and the tools that stamp and check it")
# The summary becomes the first line of the package's description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "websetup-stamp writes per-partner copies of the installer stub (installed as
a template, not a command) with their settings stamped in; websetup-publish
signs installers and prints their digests and server configuration;
websetup-fetch runs the stub's segmented downloader alone on one file, to
check a download host end to end.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps (package dpkg-dev) reads the libraries the binaries link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The stub is stamped by appending, so a stripped template stamps the same.
set(CPACK_STRIP_FILES ON)
include(CPack)
