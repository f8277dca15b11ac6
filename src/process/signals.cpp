#include "process/signals.h"

#include <csignal>

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
