#include "process/tool_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <err.h>

#include "common/failure.h"
#include "process/signals.h"

namespace {

// The child's end of a pipe that its exec closes: a byte in it says the
// child ended before its exec.
int not_started_fd = -1;

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

// Whether the child wrote its byte; a pipe that could not be made tells
// nothing, and the end then counts as the tool's.
bool ended_before_exec(int fd) {
    char byte = 0;
    return fd != -1 && read(fd, &byte, 1) == 1;
}

}  // namespace

void fork_tool_process(EndNote note) {
    int report[2] = {-1, -1};
    if (note && pipe2(report, O_CLOEXEC) == -1) report[0] = report[1] = -1;
    const pid_t child = fork();
    if (child == -1) step_failed("fork");
    if (child == 0) {
        if (report[0] != -1) close(report[0]);
        not_started_fd = report[1];
        return;
    }
    if (report[1] != -1) close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) == -1)
        if (errno != EINTR) err(2, "waitpid");
    if (note && !ended_before_exec(report[0])) note(status);
    end_as(status);
}

void tool_not_started() {
    if (not_started_fd != -1) (void)!write(not_started_fd, "", 1);
}
