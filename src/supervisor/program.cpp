#include "supervisor/program.h"

#include <sys/stat.h>
#include <unistd.h>

#include "process/tied_child.h"
#include "supervisor/report.h"

namespace {

[[noreturn]] void run_child(const SupervisedProgram& program, pid_t supervisor) {
    // Never run on unsupervised, even if the supervisor died just now.
    tie_to_parent(supervisor);

    std::vector<char*> argv;
    argv.reserve(program.args.size() + 1);
    for (const std::string& arg : program.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    report_exit(255, Reason::Errno, "execl");
}

}  // namespace

void start_program(SupervisedProgram& program) {
    struct stat st{};
    if (stat(program.args[0].c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        program.disabled = true;
        report(Level::Warning, Reason::None, "%s missing, disabling", program.name.c_str());
        return;
    }

    const pid_t supervisor = getpid();
    const pid_t pid = fork();
    if (pid == -1) {
        report(Level::Warning, Reason::Errno, "fork %s failed", program.name.c_str());
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
