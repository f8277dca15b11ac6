# Read by cpack before packing. cpack gives every archive member, file and
# gzip header the time SOURCE_DATE_EPOCH when it is set, and the current time
# otherwise; so that the same commit packs to the same bytes wherever and
# whenever it is packed, it is set here when the caller has not, to the time
# of the last commit: from git in a checkout, and in a source tree without
# git from the time of CMakeLists.txt, which a git archive gives every file.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(app_epoch "")
  if(EXISTS "${CPACK_APP_SOURCE_DIR}/.git")
    execute_process(COMMAND git -C "${CPACK_APP_SOURCE_DIR}" log -1 --format=%ct
      OUTPUT_VARIABLE app_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT app_epoch MATCHES "^[0-9]+$")
    file(TIMESTAMP "${CPACK_APP_SOURCE_DIR}/CMakeLists.txt" app_epoch "%s" UTC)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${app_epoch}")
endif()
