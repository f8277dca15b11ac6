#include "process/tool_process.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <err.h>

#include "process/signals.h"

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

void fork_tool_process() {
    const pid_t child = fork();
    if (child == -1) err(2, "fork");
    if (child == 0) return;
    int status = 0;
    while (waitpid(child, &status, 0) == -1)
        if (errno != EINTR) err(2, "waitpid");
    end_as(status);
}
