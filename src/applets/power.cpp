// poweroff, reboot: run the system tool a given number of seconds from now,
// in a child that outlives the caller, and return at once.

#include <cstdio>
#include <cstdlib>
#include <err.h>
#include <unistd.h>

#include "applets/applets.h"
#include "audit/audit.h"
#include "audit/tool_lines.h"
#include "common/decimal.h"
#include "common/failure.h"
#include "common/sleep.h"
#include "root/root_context.h"

namespace {

constexpr long MAX_DELAY_SECONDS = 3600;

[[noreturn]] void usage(const AppletArgs& args) {
    std::fprintf(stderr, "usage: %s %s <seconds>\n", args.program, args.args[0]);
    std::exit(1);
}

int schedule_tool(const AppletArgs& args, const char* tool) {
    if (args.count != 2) usage(args);
    std::optional<long> delay = parse_whole_decimal(args.args[1]);
    if (!delay) errx(1, "cannot parse seconds");
    if (*delay < 0 || *delay > MAX_DELAY_SECONDS)
        errx(1, "seconds outside of [0, %ld] interval", MAX_DELAY_SECONDS);

    require_root();

    audit("scheduled %s in %ld s", tool, *delay);
    name_tool("%s", tool);
    const pid_t pid = fork();
    if (pid == -1) err(2, "fork");
    if (pid > 0) return 0;

    // Its line is sent: once root's, this process says why the tool did not run.
    note_failures(audit_not_run);
    if (*delay != 0) sleep_whole_seconds(*delay);
    enter_root_context();
    audit_running();
    char* const argv[] = {const_cast<char*>(tool), nullptr};
    exec_tool(argv, "execl");
}

}  // namespace

int applet_poweroff(const AppletArgs& args) { return schedule_tool(args, "/usr/sbin/poweroff"); }

int applet_reboot(const AppletArgs& args) { return schedule_tool(args, "/usr/sbin/reboot"); }
