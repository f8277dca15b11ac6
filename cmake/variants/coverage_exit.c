/*
 * coverage_exit: linked into the app of the coverage build only, so that
 * every run leaves its profile, whatever state the test's caller left it in.
 *
 * - At exit: libgcov writes the profile then, in the caller's state: a low
 *   soft RLIMIT_FSIZE would kill it with SIGXFSZ in place of its own exit
 *   status, a low RLIMIT_NOFILE would leave no descriptor, and any complaint
 *   would land on the stderr the tests compare byte for byte. This runs
 *   first (on_exit handlers come before the destructor that writes it).
 * - Before exec: gcc no longer writes the profile there, and the tools the
 *   app becomes would take it with them. The app's execl and execv resolve
 *   to the ones here, which write it first (and start counting afresh when
 *   the exec fails, so that nothing is counted twice).
 * - On abort (out of memory): written before the process dies of SIGABRT.
 *   The app leaves SIGABRT as it finds it; the root step resets it only
 *   right before a tool runs.
 * - On raise: the app ends itself by a signal (as its tool ended, or as the
 *   parent-death signal would have ended it); the app's raise resolves to
 *   the one here, which writes the profile first.
 */

#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#ifndef PROFILE_ERROR_LOG
#error "PROFILE_ERROR_LOG: where libgcov's complaints go"
#endif

extern char** environ;
void __gcov_dump(void);
void __gcov_reset(void);

/* Lifts what would stop the write; false when a hard limit only
   CAP_SYS_RESOURCE lifts is in the way: no profile of this run rather than a
   cut one and a different exit status. */
static int ready_to_write(void) {
    struct rlimit limit = {RLIM_INFINITY, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 0;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    return 1;
}

/* Read by libgcov at its first complaint: the app has cleared the
   environment, and what it executes must not see the variable. */
static void write_profile_now(void) {
    setenv("GCOV_ERROR_FILE", PROFILE_ERROR_LOG, 1);
    __gcov_dump();
    unsetenv("GCOV_ERROR_FILE");
}

static void before_profile_write(int status, void* unused) {
    (void)unused;
    if (!ready_to_write()) {
        fflush(NULL);
        _exit(status);
    }
    setenv("GCOV_ERROR_FILE", PROFILE_ERROR_LOG, 1);
}

int execv(const char* path, char* const argv[]) {
    write_profile_now();
    execve(path, argv, environ);
    __gcov_reset();
    return -1;
}

int execl(const char* path, const char* arg, ...) {
    char* argv[16];
    int n = 0;
    va_list ap;
    va_start(ap, arg);
    for (const char* a = arg; a && n < 15; a = va_arg(ap, const char*)) argv[n++] = (char*)a;
    va_end(ap);
    argv[n] = NULL;
    return execv(path, argv);
}

int raise(int sig) {
    if (ready_to_write()) write_profile_now();
    int result = kill(getpid(), sig);
    __gcov_reset();  /* still alive (a signal ignored by default): count afresh */
    return result;
}

static void write_profile_and_abort(int sig) {
    if (ready_to_write()) write_profile_now();
    signal(sig, SIG_DFL);
    kill(getpid(), sig);
}

__attribute__((constructor)) static void register_profile_writes(void) {
    on_exit(before_profile_write, NULL);
    signal(SIGABRT, write_profile_and_abort);
}
