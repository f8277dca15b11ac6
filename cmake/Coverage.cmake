# Coverage build (APP_COVERAGE, preset "coverage"): the product's own code is
# instrumented with gcc's --coverage, the tests and the device-root helpers
# are not. The profile files (*.gcda) go next to the objects, by absolute
# path; tests/harness/device-root offers that directory at the same path inside each
# device root (DEVROOT_PROFILE_DIR, set by the test preset).

if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  message(FATAL_ERROR "APP_COVERAGE needs gcc (gcov's profile format)")
endif()
find_program(SETFACL setfacl REQUIRED)  # Debian's acl

foreach(target appcore app)
  target_compile_options(${target} PRIVATE --coverage)
endforeach()
# The unit tests link libgcov through appcore, as the app does.
target_link_options(appcore INTERFACE --coverage)

get_target_property(src_binary_dir app BINARY_DIR)
set(APP_PROFILE_DIRS ${src_binary_dir}/CMakeFiles/appcore.dir ${src_binary_dir}/CMakeFiles/app.dir)
set(APP_PROFILE_ERROR_LOG ${src_binary_dir}/CMakeFiles/app.dir/profile-errors.log)

add_library(coverage_exit OBJECT ${PROJECT_SOURCE_DIR}/cmake/variants/coverage_exit.c)
target_compile_definitions(coverage_exit PRIVATE PROFILE_ERROR_LOG="${APP_PROFILE_ERROR_LOG}")
target_link_libraries(app PRIVATE coverage_exit)
target_sources(app PRIVATE ${PROJECT_SOURCE_DIR}/cmake/variants/unoptimised_throwers.cpp)

# Every build starts the counts afresh: a profile file of an older object
# would make libgcov complain on stderr, which the tests compare.
# Root, the supervisor as "app" (1000) and the unprivileged caller (1001) all
# create and merge the same profile files, each with its own umask: a default
# ACL on the object directories makes every file created there rw for all.
add_custom_target(profile_dirs ALL
  COMMAND find ${APP_PROFILE_DIRS} -name *.gcda -delete
  COMMAND rm -f ${APP_PROFILE_ERROR_LOG}
  COMMAND chmod a+x ${CMAKE_BINARY_DIR} ${src_binary_dir} ${src_binary_dir}/CMakeFiles
  COMMAND find ${APP_PROFILE_DIRS} -type d -exec ${SETFACL} -m o::rwx,d:u::rwx,d:g::rwx,d:o::rwx {} +
  VERBATIM)
add_dependencies(profile_dirs app)
