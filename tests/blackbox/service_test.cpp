// service: the usage with the service list, and the init script the process becomes.
#include "device_root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using devroot::DeviceRoot;
using devroot::RunOptions;

const std::string USAGE =
    "usage: app service {start|stop|restart} <service>\nservices:\n  gen-certs\n  modem\n  nginx\n  ofono\n";

TEST(Service, AnythingButAnActionAndAKnownNameGetsTheUsage) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    RunOptions o;
    o.user = "user";
    const std::vector<std::vector<std::string>> cases = {
        {},
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
        {"nginx", "restart"},
    };
    for (const auto& tail : cases) {
        std::vector<std::string> args{"service"};
        args.insert(args.end(), tail.begin(), tail.end());
        auto r = root.run(args, o);
        std::string label = tail.empty() ? "(none)" : tail[0] + " " + tail.back();
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_EQ(r.err, USAGE) << label;
        // Before any step that needs root, which would fail here.
        r = root.run_command(devroot::without_new_privileges(args), o);
        EXPECT_EQ(r.status, 1) << label << " (no_new_privs)";
        EXPECT_EQ(r.err, USAGE) << label << " (no_new_privs)";
    }
    EXPECT_TRUE(root.records().empty());
}

struct ServiceCase {
    std::string action, service, script, tool;
    int status;  // what the script exits with
};

// Run by the unprivileged caller through the set-user-ID install.
TEST(Service, TheProcessBecomesTheScriptAsRoot) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    RunOptions o;
    o.user = "user";
    o.env = {"PATH=/tmp", "HOME=/tmp", "IFS=/"};
    const ServiceCase cases[] = {
        {"restart", "nginx", "/etc/init.d/S50nginx", "S50nginx", 7},
        {"start", "gen-certs", "/app/etc/init.d/S49gen-certs", "S49gen-certs", 0},
        {"stop", "modem", "/etc/init.d/S38modem", "S38modem", 1},
        {"start", "ofono", "/etc/init.d/S46ofono", "S46ofono", 3},
    };
    for (const ServiceCase& c : cases) {
        root.control(c.tool, "exit " + std::to_string(c.status));
        auto r = root.run({"service", c.action, c.service}, o);
        EXPECT_EQ(r.status, c.status) << c.service;
        EXPECT_EQ(r.err, "") << c.service;
        auto runs = root.records_of(c.tool);
        ASSERT_EQ(runs.size(), 1u) << c.service;
        EXPECT_EQ(runs[0].all("argv"), (std::vector<std::string>{c.script, c.action}));
        EXPECT_EQ(runs[0].get("ruid"), "0");
        EXPECT_EQ(runs[0].get("euid"), "0");
        EXPECT_EQ(runs[0].all("env"), std::vector<std::string>{"PATH=/usr/bin:/usr/sbin"});
    }
    EXPECT_EQ(root.records().size(), 4u);
}

// A script runs with init's file mode mask, whatever mask the caller had.
TEST(Service, ScriptGetsTheFileModeMask022) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    RunOptions o;
    o.user = "user";
    for (const char* caller : {"000", "002", "022", "027", "077"}) {
        auto r = root.run_command(
            {"/bin/bash", "-c", std::string("umask ") + caller + "; " + devroot::shell_exec_app("app") +
                                    " service start ofono"},
            o);
        EXPECT_EQ(r.status, 0) << r.err;
        auto runs = root.records_of("S46ofono");
        ASSERT_FALSE(runs.empty());
        EXPECT_EQ(runs.back().get("umask"), "0022") << "caller's umask " << caller;
    }
}

TEST(Service, FailuresToBecomeRootOrToRunTheScript) {
    REQUIRE_ROOT();
    RunOptions as_user;
    as_user.user = "user";
    DeviceRoot plain(false);
    auto r = plain.run({"service", "restart", "nginx"}, as_user);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "app: setuid: Operation not permitted\n");
    EXPECT_TRUE(plain.records().empty());

    // Without CAP_SETUID in the caller's bounding set, setuid(0) sets only the
    // effective id: root would not be the real user.
    DeviceRoot bounded(true);
    r = bounded.run_command({"/usr/bin/setpriv", "--bounding-set=-setuid", "--reuid=1001", "--regid=1001",
                             "--clear-groups", "--", "/bin/bash", "-c",
                             devroot::shell_exec_app("app") + " service restart nginx"},
                            {});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "app: setuid: Operation not permitted\n");
    EXPECT_TRUE(bounded.records().empty());

    DeviceRoot root;
    chmod(root.host_path("/etc/init.d/S50nginx").c_str(), 0644);
    r = root.run({"service", "restart", "nginx"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "app: execl: Permission denied\n");
    EXPECT_TRUE(root.records().empty());
}

struct EndCase {
    std::string control;  // the stand-in's
    std::string seen;     // by the caller: "exit N signal N" from the raw wait status
};

// The caller learns how the script ended: its exit status, or its death by
// a signal as the applet's own.
TEST(Service, TheCallerSeesTheScriptsStatusOrSignal) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    RunOptions o;
    o.user = "user";
    const EndCase cases[] = {
        {"exit 3", "exit 3 signal 0"}, {"kill 10", "exit 0 signal 10"}, {"kill 1", "exit 0 signal 1"}};
    for (const EndCase& c : cases) {
        root.control("S38modem", c.control);
        auto r = root.run_command({"/usr/bin/perl", "-e",
                                   "system('/bin/bash', '-c', $ARGV[0]); printf('exit %d signal %d', $? >> 8, $? & 127)",
                                   devroot::shell_exec_app("app") + " service start modem"},
                                  o);
        EXPECT_EQ(r.out, c.seen) << c.control;
        EXPECT_EQ(r.err, "") << c.control;
    }
}

struct TerminalCase {
    std::string label;
    char typed;         // by the test on the terminal; 0: the terminal hangs up
    bool caller_stays;  // the caller goes on after it (a shell gives up after ^C)
};

// On a terminal that the caller controls, what is typed there or a hang-up
// ends or stops the waiting applet at most: the root script runs to its end.
TEST(Service, TheCallersTerminalCannotStopOrEndTheScript) {
    REQUIRE_ROOT();
    const TerminalCase cases[] = {{"^C", '\x03', false}, {"^Z", '\x1a', true}, {"hang-up", 0, false}};
    for (const TerminalCase& c : cases) {
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
        // then it waits up to 5 s (the script needs 1) to see the script end:
        // a script stopped by ^Z would stay stopped while its caller is there.
        const std::string caller = "set -m; (" + devroot::shell_exec_app("app") +
                                   " service start modem); for i in $(seq 50); do "
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
}

}  // namespace
