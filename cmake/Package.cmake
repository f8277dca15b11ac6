# Debian package of what cmake/Install.cmake lays out: cpack -G DEB in a build
# directory. The architecture follows the target processor (32-bit ARM is
# taken as hard-float, armhf); override it with -DAPP_DEB_ARCHITECTURE=...

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(app_deb_arch amd64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(app_deb_arch arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  set(app_deb_arch armhf)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
  set(app_deb_arch i386)
else()
  set(app_deb_arch ${CMAKE_SYSTEM_PROCESSOR})
endif()
set(APP_DEB_ARCHITECTURE ${app_deb_arch} CACHE STRING "Debian architecture of the package")

# Whoever builds the device's image answers for its packages: set it with
# -DAPP_MAINTAINER="NAME <ADDRESS>".
set(APP_MAINTAINER "app maintainers <maintainers@users.noreply.c-seed-b4d19ce6.example>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME app)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${APP_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "multi-call tool and application supervisor of the device")
set(CPACK_PACKAGE_DESCRIPTION
  "One set-user-ID root executable, /app/bin/app: applets that let the device's
unprivileged programs set LEDs, schedule a power-off or reboot, control four
services, set the clock and run the game; started as /app/bin/app it is the
application supervisor that keeps the programs in
/app/share/tavix/watchdog.conf running. See app(8) and app-watchdog.conf(5).")
# The absolute destinations need a DESTDIR-style staging install.
set(CPACK_SET_DESTDIR ON)
# What Debian asks of a package beyond the install (changelog, copyright,
# lintian's overrides, compressed manual pages); then every directory of the
# package is 0755, ./usr included, whatever the builder's umask was when they
# were staged.
set(CPACK_PRE_BUILD_SCRIPTS
  ${CMAKE_CURRENT_LIST_DIR}/PackageDebian.cmake ${CMAKE_CURRENT_LIST_DIR}/PackageDirectories.cmake)
# The same commit packs to the same bytes: see PackageEpoch.cmake (read with
# the Depends) and PackageNormalize.cmake.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageNormalize.cmake)
set(CPACK_APP_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_APP_MANDIR ${CMAKE_INSTALL_FULL_MANDIR})
set(CPACK_APP_STRIP ${CMAKE_STRIP})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${APP_DEB_ARCHITECTURE})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C library is the only run-time dependency (libstdc++ and libgcc are
# linked in); its minimum version is read from the binary when packing,
# since it depends on the toolchain.
find_program(APP_READELF NAMES readelf ${CMAKE_READELF} REQUIRED)
configure_file(${CMAKE_CURRENT_LIST_DIR}/PackageDepends.cmake.in
  ${CMAKE_BINARY_DIR}/PackageDepends.cmake.gen @ONLY)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/PackageDepends.cmake
  INPUT ${CMAKE_BINARY_DIR}/PackageDepends.cmake.gen)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/PackageDepends.cmake)
set(CPACK_STRIP_FILES ON)
# An integrator's own program list survives upgrades.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/dist/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
