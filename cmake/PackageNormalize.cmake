# Run by cpack after packing. cpack gives the package's three members the mode
# that its own umask gave their files; Debian's normaliser makes them 0644 (and
# their times SOURCE_DATE_EPOCH, as cpack did), so that the builder's umask
# does not change the package's bytes.
find_program(app_normaliser strip-nondeterminism)
if(NOT app_normaliser)
  message(FATAL_ERROR "packing needs strip-nondeterminism (the Debian package of that name)")
endif()
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND "${app_normaliser}" --normalizers +ar --type ar
    --timestamp "$ENV{SOURCE_DATE_EPOCH}" "${deb}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
