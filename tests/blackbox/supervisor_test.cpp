// The supervisor: preparation, identity, the program list, restarts and its end.
// Its pause between polls is a fixed 17 s, so each long run checks many things.
#include "device_root.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>

namespace {

using devroot::DeviceRoot;
using devroot::Record;
using devroot::RunOptions;
using devroot::RunResult;
using Strings = std::vector<std::string>;

const std::string PATH_ONLY = "PATH=/usr/bin:/usr/sbin";

// A supervised program: a copy of the stand-in at `inside`.
void install_program(const DeviceRoot& root, const std::string& inside, mode_t mode = 0755) {
    const std::string path = root.host_path(inside);
    std::filesystem::copy_file(root.host_path("/etc/init.d/S38modem"), path,
                               std::filesystem::copy_options::overwrite_existing);
    chmod(path.c_str(), mode);
}

Strings lines_of(const std::string& text) {
    Strings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

long count(const Strings& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
}

// Runs the supervisor as "/app/bin/app", or through `shell` (bash -c) when given.
RunResult supervise(const DeviceRoot& root, RunOptions o, const std::string& shell = "") {
    o.argv0 = "/app/bin/app";
    if (shell.empty()) return root.run({}, o);
    return root.run_command({"/bin/bash", "-c", shell}, o);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct EarlyEnd {
    const char* what;
    std::function<void(const DeviceRoot&)> setup;
    std::string user;   // RunOptions::user
    std::string shell;  // run through bash -c, or "" for a plain start
    int status;
    std::string err;
    std::string prepared_as;  // ruid of the preparation tool, "" = it did not run
};

// Every way the supervisor ends before it has a child to watch.
TEST(Supervisor, EndsAtOnceWhenThereIsNothingToRunOrTheSetUpFails) {
    REQUIRE_ROOT();
    const std::string exec_app = devroot::shell_exec_app("/app/bin/app");
    const EarlyEnd cases[] = {
        {"no configuration file",
         [](const DeviceRoot& r) { std::filesystem::remove(r.host_path("/app/share/tavix/watchdog.conf")); },
         "", "", 0, "app: no more children, exiting\n", "0"},
        {"empty configuration", [](const DeviceRoot&) {}, "", "", 0, "app: no more children, exiting\n", "0"},
        {"only comments, blanks and names",
         [](const DeviceRoot& r) { r.write("/app/share/tavix/watchdog.conf", "# a /a\n\n  #b /b\nc\n \t\n"); },
         "", "", 0, "app: no more children, exiting\n", "0"},
        {"every program missing",
         [](const DeviceRoot& r) { r.write("/app/share/tavix/watchdog.conf", "a /data/a\nb /data\n"); }, "", "",
         0, "app: a missing, disabling\napp: b missing, disabling\napp: no more children, exiting\n", "0"},
        {"preparation tool cannot be executed",
         [](const DeviceRoot& r) { r.run_command({"/bin/chmod", "0644", "/usr/bin/unlock-datafs"}, {}); }, "", "",
         0, "app: execl: Permission denied\napp: no more children, exiting\n", ""},
        {"no account app",
         [](const DeviceRoot& r) {
             r.write("/etc/passwd", "root:x:0:0:root:/root:/bin/sh\nuser:x:1001:1001::/tmp:/bin/sh\n");
         },
         "", "", 2, "app: cannot determine app's uid\n", "0"},
        {"no user database", [](const DeviceRoot& r) { std::filesystem::remove(r.host_path("/etc/passwd")); }, "",
         "", 2, "app: getpwnam\n", "0"},
        // Only root runs the device's programs, whichever way in: nothing runs.
        {"started without root", [](const DeviceRoot&) {}, "user", "", 2,
         "app: setuid: Operation not permitted\n", ""},
        {"watchdog without root", [](const DeviceRoot&) {}, "user", devroot::shell_exec_app("app") + " watchdog", 2,
         "app: setuid: Operation not permitted\n", ""},
        {"no /data", [](const DeviceRoot& r) { std::filesystem::remove(r.host_path("/data")); }, "", "", 2,
         "app: chdir: No such file or directory\n", "0"},
        // Entered as app, not as the root that started us.
        {"/data closed to app",
         [](const DeviceRoot& r) {
             ASSERT_EQ(chown(r.host_path("/data").c_str(), 0, 0), 0);
             chmod(r.host_path("/data").c_str(), 0700);
         },
         "", "", 2, "app: chdir: Permission denied\n", "0"},
        // The caller's process limit: app's own process uses it up after the change to app.
        {"program cannot be forked",
         [](const DeviceRoot& r) {
             install_program(r, "/data/steady");
             r.write("/app/share/tavix/watchdog.conf", "steady /data/steady\n");
         },
         "", "ulimit -u 1 && " + exec_app, 0,
         "app: fork steady failed: Resource temporarily unavailable\napp: no more children, exiting\n", "0"},
    };
    for (const EarlyEnd& c : cases) {
        DeviceRoot root;
        c.setup(root);
        RunOptions o;
        o.user = c.user;
        o.timeout = 15;  // a hang must not hold up the suite
        o.linger = 2;
        auto r = supervise(root, o, c.shell);
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_LT(r.elapsed_ms, 5000) << c.what;
        auto prepared = root.records_of("unlock-datafs");
        EXPECT_EQ(prepared.size(), c.prepared_as.empty() ? 0u : 1u) << c.what;
        if (!prepared.empty()) {
            EXPECT_EQ(prepared[0].get("ruid"), c.prepared_as) << c.what;
        }
        EXPECT_TRUE(root.records_of("steady").empty()) << c.what;
    }
}

// The tool runs first, to its end, as the starting identity, wherever we were
// started, without a parent-death signal; its failure does not matter. The
// caller leaves a child of its own to us: reaping that one must not count as
// the tool's end. The caller's stricter file mode mask stays for all we start.
TEST(Supervisor, PreparesTheDataAreaFirstAsTheStartingIdentity) {
    REQUIRE_ROOT();
    DeviceRoot root;
    root.control("unlock-datafs", "sleep 1500\nexit 3\n");
    install_program(root, "/data/steady");
    root.control("steady", "sleep 600000\n");
    root.write("/app/share/tavix/watchdog.conf", "steady /data/steady\n");
    RunOptions o;
    o.user = "0:27:27,44";
    o.cwd = "/tmp";
    o.timeout = 4;
    o.signal = 9;
    o.linger = 8;
    const auto start = std::chrono::steady_clock::now();
    auto r = supervise(root, o, "umask 077; sleep 0.2 & " + devroot::shell_exec_app("/app/bin/app"));
    const double took = seconds_since(start);

    EXPECT_EQ(r.status, 128 + 9);
    EXPECT_EQ(r.err, "");
    auto all = root.records();
    ASSERT_GE(all.size(), 2u);
    const Record& tool = all[0];
    EXPECT_EQ(tool.get("tool"), "unlock-datafs");
    EXPECT_EQ(tool.all("argv"), Strings{"/usr/bin/unlock-datafs"});
    EXPECT_EQ(tool.get("ruid") + tool.get("euid") + tool.get("rgid") + tool.get("groups"), "002727,44");
    EXPECT_EQ(tool.get("cwd"), "/tmp");
    EXPECT_EQ(tool.get("pdeathsig"), "0");
    EXPECT_EQ(tool.all("env"), Strings{PATH_ONLY});
    EXPECT_EQ(tool.get("umask"), "0077");

    auto steady = root.records_of("steady");
    ASSERT_EQ(steady.size(), 1u);
    EXPECT_EQ(steady[0].get("umask"), "0077");
    EXPECT_GE(steady[0].number("time_ms") - tool.number("time_ms"), 1500);
    // SIGKILL to the supervisor: its child got SIGTERM and nothing lingered.
    auto ended = root.records_of("steady", "signal");
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].get("pid"), steady[0].get("pid"));
    EXPECT_LT(took, o.timeout + o.linger - 2);
}

TEST(Supervisor, RestartsEveryProgramThatEndsWithItsExitCode) {
    REQUIRE_ROOT();
    DeviceRoot root;
    for (const char* name : {"steady", "flaky", "killed"}) install_program(root, std::string("/data/") + name);
    install_program(root, "/data/noexec", 0644);
    std::filesystem::create_directory(root.host_path("/data/dir"));
    root.control("steady", "sleep 600000\n");
    root.control("flaky", "sleep 1000\nexit 3\n");
    root.control("killed", "sleep 1000\nkill 9\n");
    root.write("/app/share/tavix/watchdog.conf",
               "# programs of the device\n"
               "   # an indented comment\n"
               "steady\t/data/steady  --flag\n"
               "flaky flaky # x\n"
               "killed /data/killed\n"
               "noexec /data/noexec\n"
               "dir /data/dir\n"
               "none /data/none\n"
               "nameonly\n"
               "sleeper /usr/bin/sleep 600000\n");
    RunOptions o;
    o.user = "0:27:27,44";
    // Programs get SIGTERM and SIGCHLD at their defaults and nothing blocked;
    // other dispositions are root's choice and stay. The stand-ins catch
    // SIGTERM; sleeper does not, and must still end with the supervisor.
    o.ignored = {SIGHUP, SIGTERM, SIGCHLD};
    o.blocked = {SIGTERM, SIGUSR1};
    o.timeout = 21;  // one restart round at about 17 s
    o.signal = 9;
    o.linger = 8;
    const auto start = std::chrono::steady_clock::now();
    auto r = supervise(root, o);
    const double took = seconds_since(start);
    EXPECT_EQ(r.status, 128 + 9);

    Strings lines = lines_of(r.err);
    for (const std::string& line : lines) EXPECT_EQ(line.rfind("app: ", 0), 0u) << line;
    // A program that cannot be executed fails in its child and is restarted each time.
    const long failed_execs = count(lines, "app: execl: Permission denied");
    const long noexec_restarts = count(lines, "app: noexec exited(255), restarting");
    EXPECT_GE(noexec_restarts, 1);
    EXPECT_EQ(failed_execs, noexec_restarts + 1);
    Strings rest;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(rest), [](const std::string& l) {
        return l != "app: execl: Permission denied" && l != "app: noexec exited(255), restarting";
    });
    ASSERT_EQ(rest.size(), 4u) << r.err;
    EXPECT_EQ(Strings(rest.begin(), rest.begin() + 2),
              (Strings{"app: dir missing, disabling", "app: none missing, disabling"}));
    std::sort(rest.begin() + 2, rest.end());
    EXPECT_EQ(Strings(rest.begin() + 2, rest.end()),
              (Strings{"app: flaky exited(3), restarting", "app: killed exited(0), restarting"}));

    auto steady = root.records_of("steady");
    ASSERT_EQ(steady.size(), 1u);
    const Record& s = steady[0];
    EXPECT_EQ(s.all("argv"), (Strings{"/data/steady", "--flag"}));
    EXPECT_EQ(s.get("ruid") + s.get("euid") + s.get("suid"), "100010001000");
    EXPECT_EQ(s.get("rgid") + s.get("egid") + s.get("sgid"), "272727");
    EXPECT_EQ(s.get("groups"), "27,44");
    EXPECT_EQ(s.get("cwd"), "/data");
    EXPECT_EQ(s.all("env"), Strings{PATH_ONLY});
    EXPECT_EQ(s.get("pdeathsig"), "15");
    // The user-mode emulator catches every signal itself: what it executes gets them at their defaults.
    if (!devroot::emulated()) {
        EXPECT_EQ(s.get("sigign"), "0000000000000001");  // SIGHUP
    }
    EXPECT_EQ(s.get("sigblk"), "0000000000000000");
    Strings fds;
    for (const std::string& fd : s.all("fd")) fds.push_back(fd.substr(0, fd.find(':')));
    EXPECT_EQ(fds, (Strings{"0", "1", "2"})) << "the configuration stream must not reach the programs";
    ASSERT_EQ(root.records_of("unlock-datafs").size(), 1u);
    EXPECT_EQ(s.get("ppid"), root.records_of("unlock-datafs")[0].get("ppid"));

    // Both ended programs were reaped after one pause and restarted back to back.
    auto flaky = root.records_of("flaky");
    auto killed = root.records_of("killed");
    ASSERT_EQ(flaky.size(), 2u);
    ASSERT_EQ(killed.size(), 2u);
    EXPECT_EQ(flaky[0].all("argv"), (Strings{"flaky", "#", "x"}));
    EXPECT_EQ(flaky[1].get("cwd"), "/data");
    const long pause = flaky[1].number("time_ms") - flaky[0].number("time_ms");
    EXPECT_GT(pause, 15500);
    EXPECT_LT(pause, 19000);
    EXPECT_LT(std::abs(flaky[1].number("time_ms") - killed[1].number("time_ms")), 1000);

    // SIGKILL to the supervisor: the running child got SIGTERM, nothing lingered.
    auto ended = root.records_of("steady", "signal");
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].get("pid"), s.get("pid"));
    EXPECT_LT(took, o.timeout + o.linger - 2);
}

// Reached as the applet, the lines carry the name the caller used. Lines
// ending in CR LF keep the CR in their last token.
TEST(Supervisor, DisablesProgramsRemovedWhileTheyRanAndEndsWhenNoneIsLeft) {
    REQUIRE_ROOT();
    DeviceRoot root;
    install_program(root, "/data/gone");
    install_program(root, "/data/also");
    root.control("gone", "remove-after 1\nsleep 500\nexit 4\n");
    root.control("also", "remove-after 1\nsleep 1500\nkill 9\n");
    root.write("/app/share/tavix/watchdog.conf",
               "gone /data/gone first\r\n"
               "crlf /data/gone\r\n"
               "also /data/also -x");
    RunOptions o;
    o.argv0 = "/usr/bin/tavix";
    o.timeout = 60;
    o.linger = 2;
    auto r = root.run({"watchdog", "ignored"}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_GT(r.elapsed_ms, 16000);
    EXPECT_LT(r.elapsed_ms, 20000);
    const std::string gone = "tavix: gone exited(4), restarting\ntavix: gone missing, disabling\n";
    const std::string also = "tavix: also exited(0), restarting\ntavix: also missing, disabling\n";
    const std::string first = "tavix: crlf missing, disabling\n", last = "tavix: no more children, exiting\n";
    EXPECT_TRUE(r.err == first + gone + also + last || r.err == first + also + gone + last) << r.err;

    auto gone_runs = root.records_of("gone");
    ASSERT_EQ(gone_runs.size(), 1u);
    EXPECT_EQ(gone_runs[0].all("argv"), (Strings{"/data/gone", "first\r"}));
    auto also_runs = root.records_of("also");
    ASSERT_EQ(also_runs.size(), 1u);
    EXPECT_EQ(also_runs[0].all("argv"), (Strings{"/data/also", "-x"}));
}

}  // namespace
