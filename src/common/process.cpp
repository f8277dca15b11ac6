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
    // The entry (and the root context) gave SIGTERM its default action and unblocked it.
    raise(SIGTERM);
    _exit(128 + SIGTERM);
}

void unblock_signals() {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Only SIGKILL, SIGSTOP and the C library's own signals refuse, and those
// are never caught or ignored.
void reset_signals() {
    for (int sig = 1; sig < NSIG; ++sig) std::signal(sig, SIG_DFL);
    unblock_signals();
}
