// The application supervisor: prepare the data area as the starting identity,
// become "app", enter /data, start every configured program and restart each
// one whenever it ends, until no child is left.

#include "supervisor/supervisor.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <vector>

#include "audit/audit.h"
#include "common/sleep.h"
#include "supervisor/config.h"
#include "supervisor/program.h"
#include "supervisor/report.h"

namespace {

constexpr time_t POLL_INTERVAL = 17;  // seconds
constexpr char PREPARATION_TOOL[] = "/usr/bin/unlock-datafs";
constexpr char ACCOUNT[] = "app";
constexpr char DATA_DIR[] = "/data";

// Runs the tool to its end; its exit status does not matter.
void prepare_data_area() {
    const pid_t pid = fork();
    if (pid == -1) report_exit(2, Reason::Errno, "fork %s failed", PREPARATION_TOOL);
    if (pid == 0) {
        execl(PREPARATION_TOOL, PREPARATION_TOOL, static_cast<char*>(nullptr));
        report_exit(2, Reason::Errno, "execl");
    }
    // Wait for this child only: whoever exec'd us may have left children of
    // its own, and reaping one of those must not pass for the tool's end.
    if (waitpid(pid, nullptr, 0) == -1) report_exit(2, Reason::Errno, "wait on %s", PREPARATION_TOOL);
}

// Changes the user id only: groups stay those we were started with.
void become_app() {
    // errno means something only when no entry comes back, and some name
    // services leave it set on success: clear it, and trust a found entry.
    errno = 0;
    const passwd* account = getpwnam(ACCOUNT);
    if (!account && errno != 0) report_exit(2, Reason::None, "getpwnam");
    if (!account) report_exit(2, Reason::None, "cannot determine %s's uid", ACCOUNT);
    if (setuid(account->pw_uid) != 0) report_exit(2, Reason::Errno, "setuid");
}

void reap(std::vector<SupervisedProgram>& programs, pid_t pid, int status) {
    SupervisedProgram* program = find_by_pid(programs, pid);
    if (!program) return;  // not one of ours
    // A child killed by a signal shows exit code 0.
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
    report(Level::Warning, Reason::None, "%s exited(%d), restarting", program->name.c_str(), code);
    start_program(*program);
}

}  // namespace

int run_supervisor(const AppletArgs& /*ignored*/) {
    // The device's programs are started once, by root. Anyone else reaching
    // us through the set-user-ID bit would run a second set beside them.
    if (getuid() != 0) {
        audit("supervisor refused");
        errno = EPERM;
        report_exit(2, Reason::Errno, "setuid");
    }
    audit("supervisor started");
    prepare_data_area();
    become_app();
    if (chdir(DATA_DIR) != 0) report_exit(2, Reason::Errno, "chdir");

    std::vector<SupervisedProgram> programs;
    load_watchdog_config(programs);
    for (SupervisedProgram& program : programs) start_program(program);

    for (;;) {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid == -1) {
            if (errno != ECHILD) report_exit(2, Reason::Errno, "waitpid");
            report(Level::Notice, Reason::None, "no more children, exiting");
            std::exit(0);
        }
        if (pid == 0) sleep_whole_seconds(POLL_INTERVAL);
        else reap(programs, pid, status);
    }
}
