# Run by cpack on its staging tree, before packing: what Debian asks of a
# package beyond the install. A device image installed with cmake --install
# needs none of it.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(dist "${CPACK_APP_SOURCE_DIR}/dist/debian")

function(app_put source destination)  # mode 0644 whatever the builder's umask
  get_filename_component(dir "${destination}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${source}" "${destination}")
  file(CHMOD "${destination}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

app_put("${dist}/changelog" "${root}/usr/share/doc/app/changelog")
app_put("${dist}/copyright" "${root}/usr/share/doc/app/copyright")
# The tags the device's fixed layout causes on purpose, each with its reason.
app_put("${dist}/lintian-overrides" "${root}/usr/share/lintian/overrides/app")

# Compressed as Debian's tools do it: best compression, and no name or time
# in the gzip header, so that packing again gives the same bytes.
file(GLOB pages "${root}${CPACK_APP_MANDIR}/man*/*")
foreach(file IN LISTS pages ITEMS "${root}/usr/share/doc/app/changelog")
  execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# The compilers' version notes are of no use on the device.
execute_process(COMMAND "${CPACK_APP_STRIP}" --remove-section=.comment "${root}/app/bin/app"
  COMMAND_ERROR_IS_FATAL ANY)
