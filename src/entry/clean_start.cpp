// The process state every start inherits from whoever called us, made safe
// before anything else runs.

#include "entry/clean_start.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <err.h>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "process/signals.h"

namespace {

// In a set-user-ID start the C library has already put /dev/full, write-only,
// on a closed stdin; the tools we start get /dev/null there as in any start.
bool stdin_filled_by_libc() {
    struct stat st{};
    return getauxval(AT_SECURE) != 0 && fstat(0, &st) == 0 && S_ISCHR(st.st_mode) &&
           st.st_rdev == makedev(1, 7) && (fcntl(0, F_GETFL) & O_ACCMODE) == O_WRONLY;
}

// A caller may start us with 0-2 closed so that the next file we open (an LED
// attribute, say) becomes stderr. Fill the gaps before anything is opened.
void open_standard_descriptors() {
    if (stdin_filled_by_libc()) close(0);
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        const int null_fd = open("/dev/null", O_RDWR);
        if (null_fd != fd) _exit(2);  // cannot even report it
    }
}

// No stray descriptors for anything we start. An ignored SIGTERM would defeat
// the parent-death signal and an ignored SIGCHLD the supervisor's reaping;
// other dispositions the caller chose stay until a tool runs as root (so that
// `nohup app reboot 600` survives the hang-up while it waits).
void reset_inherited_state() {
    closefrom(3);
    // What we start creates files with our mask: a caller's 000 would make them
    // world-writable. Keep stricter bits (tools run as root get 022 exactly).
    umask(umask(0) | 022);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGCHLD, SIG_DFL);
    unblock_signals();
}

// err() and warn() print a line in pieces; a concurrent child's lines (the
// supervisor's programs, a power child) could land between them.
void write_diagnostics_by_line() {
    static char buffer[BUFSIZ];
    std::setvbuf(stderr, buffer, _IOLBF, sizeof buffer);
}

void reset_environment() {
    if (clearenv() != 0) errx(2, "clearenv");
    if (setenv("PATH", "/usr/bin:/usr/sbin", 1) == -1) err(2, "setenv");
}

}  // namespace

void make_inherited_state_safe() {
    open_standard_descriptors();
    write_diagnostics_by_line();
    reset_inherited_state();
    reset_environment();
}
