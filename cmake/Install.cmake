# Install layout. The program hard-codes where it lives and what it reads
# (supervisor mode needs argv[0] to be exactly /app/bin/app), so those two
# destinations are absolute and ignore the prefix; only the manual pages
# follow CMAKE_INSTALL_PREFIX. DESTDIR prefixes everything:
#   DESTDIR=/path/to/rootfs cmake --install build/armhf
# gives rootfs/app/bin/app, rootfs/app/share/tavix/watchdog.conf and
# rootfs/usr/share/man/man{5,8}/.

option(APP_INSTALL_SETUID
  "Install /app/bin/app set-user-ID (mode 4755), so that unprivileged programs can use the applets"
  ON)

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Prefix of the manual pages" FORCE)
endif()
include(GNUInstallDirs)

set(APP_EXECUTABLE_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
if(APP_INSTALL_SETUID)
  list(APPEND APP_EXECUTABLE_PERMISSIONS SETUID)
endif()

# File ownership is not something an install step can set: a root install
# gives root:root, an unprivileged one must be fixed up by the image tool.
install(TARGETS app RUNTIME DESTINATION /app/bin PERMISSIONS ${APP_EXECUTABLE_PERMISSIONS})
install(FILES dist/watchdog.conf DESTINATION /app/share/tavix
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES docs/man/app.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES docs/man/app-watchdog.conf.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)

# The install creates directories with the builder's umask; a private /app
# would lock every caller out of the program.
install(CODE [[
  foreach(dir /app /app/bin /app/share /app/share/tavix)
    file(CHMOD "$ENV{DESTDIR}${dir}" PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endforeach()
]])
