/*
 * coverage_exit: linked into the app of the coverage build only. libgcov
 * writes the profile when the program exits, in whatever state the test's
 * caller left it: a low soft RLIMIT_FSIZE would kill it with SIGXFSZ in
 * place of its own exit status, a low RLIMIT_NOFILE would leave no
 * descriptor, and any complaint would land on the stderr the tests compare
 * byte for byte. This runs first at exit (on_exit handlers come before the
 * destructor that writes the profile).
 */

#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#ifndef PROFILE_ERROR_LOG
#error "PROFILE_ERROR_LOG: where libgcov's complaints go"
#endif

static void before_profile_write(int status, void* unused) {
    (void)unused;
    struct rlimit limit = {RLIM_INFINITY, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        /* A hard limit only CAP_SYS_RESOURCE lifts: no profile of this run
           rather than a cut one and a different exit status. */
        fflush(NULL);
        _exit(status);
    }
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    /* Read by libgcov at its first complaint; the environment was cleared. */
    setenv("GCOV_ERROR_FILE", PROFILE_ERROR_LOG, 1);
}

__attribute__((constructor)) static void register_before_profile_write(void) {
    on_exit(before_profile_write, NULL);
}
