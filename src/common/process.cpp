#include "common/process.h"

#include <cerrno>
#include <csignal>
#include <err.h>
#include <sys/prctl.h>
#include <unistd.h>

void sleep_whole_seconds(time_t seconds) {
    struct timespec remaining = {seconds, 0};
    while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
    }
}

void tie_to_parent(pid_t parent) {
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) warn("prctl");
    if (getppid() == parent) return;
    // The entry gave SIGTERM its default action and unblocked it.
    raise(SIGTERM);
    _exit(128 + SIGTERM);
}

void become_root() {
    if (setuid(0) != 0) err(2, "setuid");
}
