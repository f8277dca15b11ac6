# Read by cpack before packing. cpack gives every archive member, file and
# gzip header the time SOURCE_DATE_EPOCH when it is set, and the current time
# otherwise; so that the same commit packs to the same bytes wherever and
# whenever it is packed, it is set here when the caller has not: to the time
# of the last commit, or, in a source tree without git (an unpacked source
# archive), to the date of the newest entry of dist/debian/changelog.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(app_epoch "")
  if(EXISTS "${CPACK_APP_SOURCE_DIR}/.git")
    execute_process(COMMAND git -C "${CPACK_APP_SOURCE_DIR}" log -1 --format=%ct
      OUTPUT_VARIABLE app_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT app_epoch MATCHES "^[0-9]+$")
    file(STRINGS "${CPACK_APP_SOURCE_DIR}/dist/debian/changelog" app_trailer REGEX "^ -- " LIMIT_COUNT 1)
    string(REGEX REPLACE "^ -- .*>  " "" app_date "${app_trailer}")
    execute_process(COMMAND date -u -d "${app_date}" +%s
      OUTPUT_VARIABLE app_epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${app_epoch}")
endif()
