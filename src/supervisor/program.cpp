#include "supervisor/program.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <err.h>

namespace {

// Ends this process the way a SIGTERM with its default action would.
[[noreturn]] void die_as_terminated() {
    std::signal(SIGTERM, SIG_DFL);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_UNBLOCK, &term, nullptr);
    raise(SIGTERM);
    _exit(128 + SIGTERM);
}

[[noreturn]] void run_child(const SupervisedProgram& program, pid_t supervisor) {
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) warn("prctl");
    // The supervisor may have died before the request above: nobody would
    // signal us then, and we must not run on unsupervised.
    if (getppid() != supervisor) die_as_terminated();

    std::vector<char*> argv;
    for (const std::string& arg : program.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    err(255, "execl");
}

}  // namespace

void start_program(SupervisedProgram& program) {
    struct stat st{};
    if (stat(program.args[0].c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        program.disabled = true;
        warnx("%s missing, disabling", program.name.c_str());
        return;
    }

    const pid_t supervisor = getpid();
    const pid_t pid = fork();
    if (pid == -1) {
        warn("fork %s failed", program.name.c_str());
        program.pid.reset();
        return;
    }
    if (pid == 0) run_child(program, supervisor);
    program.pid = pid;
}

SupervisedProgram* find_by_pid(std::vector<SupervisedProgram>& list, pid_t pid) {
    for (SupervisedProgram& program : list)
        if (!program.disabled && program.pid == pid) return &program;
    return nullptr;
}
