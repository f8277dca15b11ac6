// service: the usage with the service list, and the init script the process becomes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;


// The last check (the name) once more without new privileges: the usage
// comes before any step that needs root, which would fail there.
TABLE(Service, AnythingButAnActionAndAKnownNameGetsTheUsage) {
    std::vector<Row> rows;
    for (const Strings& tail : std::vector<Strings>{{},
                                                    {"restart"},
                                                    {"nginx"},
                                                    {"restart", "nginx", "now"},
                                                    {"Restart", "nginx"},
                                                    {"RESTART", "nginx"},
                                                    {"reload", "nginx"},
                                                    {"start ", "nginx"},
                                                    {"", "nginx"},
                                                    {"restart", "Nginx"},
                                                    {"restart", ""},
                                                    {"restart", "httpd"},
                                                    {"restart", "S50nginx"},
                                                    {"restart", "/etc/init.d/S50nginx"},
                                                    {"restart", "gen-cert"},
                                                    {"nginx", "restart"}}) {
        Strings args{"service"};
        args.insert(args.end(), tail.begin(), tail.end());
        rows.push_back({.args = args, .caller = AS_USER, .status = 1, .err = SERVICE_USAGE});
    }
    rows.push_back({.label = "restart httpd (no_new_privs)", .caller = AS_USER,
                    .command = without_new_privileges({"service", "restart", "httpd"}), .status = 1,
                    .err = SERVICE_USAGE});
    return {.rows = rows, .setuid = true};
}

// The unprivileged caller, through the set-user-ID install, runs `service`'s
// script `path` (stand-in `tool`), which exits with `status`: the process
// became the script, as root, with the fixed environment.
Row becomes_script(const std::string& action, const std::string& service, const std::string& path,
                   const std::string& tool, int status) {
    return {.args = {"service", action, service},
            .caller = {.user = "user", .env = {"PATH=/tmp", "HOME=/tmp", "IFS=/"}}, .status = status,
            .tools = {tool}, .setup = [=](const DeviceRoot& root) { root.control(tool, "exit " + std::to_string(status)); },
            .check = [=](const DeviceRoot& root, const RunResult&) {
                const Record run = root.records_of(tool).at(0);
                EXPECT_EQ(run.all("argv"), (Strings{path, action}));
                EXPECT_EQ(run.ids(), "0 0 0 0/0 0 0 0/");
                EXPECT_EQ(run.all("env"), TOOL_ENVIRONMENT);
            }};
}

TABLE(Service, TheProcessBecomesTheScriptAsRoot) {
    return {.rows = {becomes_script("restart", "nginx", "/etc/init.d/S50nginx", "S50nginx", 7),
                     becomes_script("start", "gen-certs", "/app/etc/init.d/S49gen-certs", "S49gen-certs", 0),
                     becomes_script("stop", "modem", "/etc/init.d/S38modem", "S38modem", 1),
                     becomes_script("start", "ofono", "/etc/init.d/S46ofono", "S46ofono", 3)},
            .setuid = true};
}

// A script runs with init's file mode mask, whatever mask the caller had.
TABLE(Service, ScriptGetsTheFileModeMask022) {
    std::vector<Row> rows;
    for (const std::string mask : {"000", "002", "022", "027", "077"})
        rows.push_back({.label = "caller's umask " + mask, .caller = AS_USER,
                        .command = {"/bin/bash", "-c",
                                    "umask " + mask + "; " + shell_exec_app("app") + " service start ofono"},
                        .tools = {"S46ofono"}, .check = [](const DeviceRoot& root, const RunResult&) {
                            EXPECT_EQ(root.records_of("S46ofono").at(0).get("k.status.Umask"), "0022");
                        }});
    return {.rows = rows, .setuid = true};
}

TABLE(Service, FailuresToBecomeRootOrToRunTheScript) {
    const Strings restart{"service", "restart", "nginx"};
    return {.rows = {
        {.label = "not set-user-ID", .args = restart, .caller = AS_USER, .status = 2, .err = NOT_ROOT},
        {.label = "script not executable", .args = restart, .status = 2, .err = EXEC_REFUSED,
         .setup = [](const DeviceRoot& root) { chmod(root.host_path("/etc/init.d/S50nginx").c_str(), 0644); }},
        // Root's real id with another effective one, and no CAP_SETUID: setuid(0)
        // sets the effective id alone and the saved one stays 1001's, whose
        // processes could then signal the script. (bash -p keeps the ids.)
        {.label = "real uid 0, effective 1001, no CAP_SETUID in the bounding set",
         .command = {"/usr/bin/setpriv", "--bounding-set=-setuid", "--euid=1001", "--", "/bin/bash", "-p", "-c",
                     shell_exec_app("app") + " service restart nginx"},
         .status = 2, .err = NOT_ROOT},
    }};
}

// Without CAP_SETUID in the caller's bounding set, setuid(0) sets only the
// effective id: root would not be the real user.
TABLE(Service, FailsWhereRootWouldNotBeTheRealUser) {
    return {.rows = {{.label = "no CAP_SETUID in the bounding set",
                      .command = {"/usr/bin/setpriv", "--bounding-set=-setuid", "--reuid=1001", "--regid=1001",
                                  "--clear-groups", "--", "/bin/bash", "-c",
                                  shell_exec_app("app") + " service restart nginx"},
                      .status = 2, .err = NOT_ROOT}},
            .setuid = true};
}

// The caller learns how the script ended: its exit status, or its death by
// a signal as the applet's own, whatever the caller ignored (nohup ignores
// SIGHUP) and without a core file of the applet's (only root's start may
// dump one). A child the caller left to the applet is not the script.
// A core file of a pipe's (systemd-coredump's, say) is taken whatever the
// limit; a user-mode emulator reports a core signal on stderr itself.
std::string core_files_kept() {
    std::string pattern;
    std::ifstream("/proc/sys/kernel/core_pattern") >> pattern;
    if (pattern.rfind('|', 0) == 0) return "core files go to a program here, whatever the limit";
    return native_only("the emulator reports a core signal on stderr itself");
}

TABLE(Service, TheCallerSeesTheScriptsStatusOrSignal) {
    struct Case {
        std::string label, control;
        std::string perl;   // run by the caller before it starts app
        std::string shell;  // run by the shell that becomes app
        std::string seen;
        std::string user = "user";
        Needs needs;
    };
    const std::vector<Case> cases = {
        {"exit 3", "exit 3", "", "", "exit 3 signal 0 core 0"},
        {"kill 10", "kill 10", "", "", "exit 0 signal 10 core 0"},
        {"kill 1", "kill 1", "", "", "exit 0 signal 1 core 0"},
        {"kill 1, SIGHUP ignored", "kill 1", "$SIG{HUP} = 'IGNORE'; ", "", "exit 0 signal 1 core 0"},
        {"exit 3 after a child of the caller's ends", "sleep 1000\nexit 3", "", "sleep 0.2 & ",
         "exit 3 signal 0 core 0"},
        {"kill 3, core files unlimited (root)", "kill 3", "", "ulimit -S -c unlimited; ", "exit 0 signal 3 core 0",
         "", core_files_kept},
    };
    std::vector<Row> rows;
    for (const Case& c : cases)
        rows.push_back({.label = c.label, .caller = {.user = c.user},
                        .command = {"/usr/bin/perl", "-e",
                                    c.perl + "system('/bin/bash', '-c', $ARGV[0]); "
                                             "printf('exit %d signal %d core %d', $? >> 8, $? & 127, $? & 128)",
                                    c.shell + shell_exec_app("app") + " service start modem"},
                        .out = c.seen, .tools = {"S38modem"},
                        .setup = [c](const DeviceRoot& root) { root.control("S38modem", c.control); },
                        .needs = c.needs});
    return {.rows = rows, .setuid = true};
}
struct TerminalCase {
    std::string label;
    char typed;         // by the test on the terminal; 0: the terminal hangs up
    bool caller_stays;  // the caller goes on after it (a shell gives up after ^C)
};

// On a terminal that the caller controls, what is typed there or a hang-up
// ends or stops the waiting applet at most: the root script runs to its end.
void terminal_cannot_stop_or_end_the_script(const TerminalCase& c) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    root.write("/etc/init.d/S38modem",
               "#!/bin/sh\necho started >/records/started\nsleep 1\necho finished >/records/finished\n", 0755);
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    RunOptions o;
    o.user = "user";
    o.streams = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(o.streams, 0);
    o.linger = 10;  // bounds only a script that never ends
    // Types once the script runs; the wait is bounded at 10 s.
    std::thread typist([&] {
        for (int i = 0; i < 1000 && !root.exists("/records/started"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (c.typed) (void)!write(master, &c.typed, 1);
        else close(master);
    });
    // The caller's shell makes the terminal its own and runs app as a
    // foreground job, in a group of its own, as an interactive shell does;
    // then it waits up to 20 s (the script needs 1, more on a busy machine)
    // to see the script end: a script stopped by ^Z would stay stopped
    // while its caller is there.
    const std::string caller = "set -m; (" + shell_exec_app("app") +
                               " service start modem); for i in $(seq 200); do "
                               "[ -e /records/finished ] && exit 0; sleep 0.1; done; exit 1";
    auto r = root.run_command({"/usr/bin/setsid", "-w", "-c", "/bin/bash", "-c", caller}, o);
    typist.join();
    close(o.streams);
    if (c.typed) close(master);
    if (c.caller_stays) {
        EXPECT_EQ(r.status, 0) << c.label << ": the script did not end while its caller was there";
    }
    EXPECT_EQ(root.read("/records/started"), "started\n") << c.label;
    EXPECT_EQ(root.read("/records/finished"), "finished\n") << c.label;
}

TEST(Service, TheCallersTerminalCannotEndTheScriptByCtrlC) {
    terminal_cannot_stop_or_end_the_script({"^C", '\x03', false});
}
TEST(Service, TheCallersTerminalCannotStopTheScriptByCtrlZ) {
    terminal_cannot_stop_or_end_the_script({"^Z", '\x1a', true});
}
TEST(Service, TheCallersTerminalCannotEndTheScriptByHangingUp) {
    terminal_cannot_stop_or_end_the_script({"hang-up", 0, false});
}

}  // namespace
