#include "common/process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <err.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
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

void out_of_memory() {
    warnx("out of memory");
    std::abort();
}

namespace {

[[noreturn]] void end_as(int status) {
    if (WIFEXITED(status)) std::exit(WEXITSTATUS(status));
    const int sig = WTERMSIG(status);
    // The child's core file, if any, was its own: ours would hold nothing of use.
    const struct rlimit no_core{};
    setrlimit(RLIMIT_CORE, &no_core);
    std::signal(sig, SIG_DFL);
    unblock_signals();
    raise(sig);
    _exit(128 + sig);
}

}  // namespace

void continue_in_waited_child() {
    const pid_t child = fork();
    if (child == -1) err(2, "fork");
    if (child == 0) return;
    int status = 0;
    while (waitpid(child, &status, 0) == -1)
        if (errno != EINTR) err(2, "waitpid");
    end_as(status);
}
