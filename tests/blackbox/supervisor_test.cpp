// The supervisor: preparation, identity, the program list, restarts and its end.
// Its pause between polls is a fixed 17 s, so each long run checks many things.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <filesystem>
#include <sstream>

#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;

const long PAUSE_MS = 17000;

// Standard error's lines, each with its line break.
Strings lines_of(const std::string& text) {
    Strings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
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

// Started as "/app/bin/app" by `user` ("": root); a hang must not hold up the suite.
RunOptions starter(std::string user = "") {
    return {.argv0 = "/app/bin/app", .user = std::move(user), .timeout = 30, .linger = 2};
}

// After every early end: it came before the first pause (a supervisor that
// waited out one, 17 s, would exceed the bound), and the preparation tool,
// if it ran, ran as root, who started it.
void ended_early(const DeviceRoot& root, const Row& row, const RunResult& r) {
    EXPECT_LT(r.elapsed_ms, PAUSE_MS * 2 / 3) << row.label;
    for (const Record& prepared : root.records_of("unlock-datafs"))
        EXPECT_EQ(prepared.ids(), "0 0 0 0/0 0 0 0/0") << row.label;
}

// Every way the supervisor ends before it has a child to watch.
TABLE(Supervisor, EndsAtOnceWhenThereIsNothingToRunOrTheSetUpFails) {
    const Strings prepared{"unlock-datafs"};
    return {
        .rows = {
            {.label = "no configuration file", .caller = starter(), .err = NO_CHILDREN, .tools = prepared,
             .setup =
                 [](const DeviceRoot& r) { std::filesystem::remove(r.host_path(CONFIG_FILE)); }},
            {.label = "empty configuration", .caller = starter(), .err = NO_CHILDREN, .tools = prepared},
            {.label = "only comments, blanks and names", .caller = starter(), .err = NO_CHILDREN, .tools = prepared,
             .setup = [](const DeviceRoot& r) { r.configure("# a /a\n\n  #b /b\nc\n \t\n"); }},
            {.label = "every program missing", .caller = starter(),
             .err = said("a missing, disabling") + said("b missing, disabling") + NO_CHILDREN, .tools = prepared,
             .setup = [](const DeviceRoot& r) { r.configure("a /data/a\nb /data\n"); }},
            {.label = "preparation tool cannot be executed", .caller = starter(), .err = EXEC_REFUSED + NO_CHILDREN,
             .setup = [](const DeviceRoot& r) { r.run_command({"/bin/chmod", "0644", "/usr/bin/unlock-datafs"}, {}); }},
            {.label = "no account app", .caller = starter(), .status = 2, .err = said("cannot determine app's uid"),
             .tools = prepared,
             .setup =
                 [](const DeviceRoot& r) {
                     r.write("/etc/passwd", "root:x:0:0:root:/root:/bin/sh\nuser:x:1001:1001::/tmp:/bin/sh\n");
                 }},
            {.label = "no user database", .caller = starter(), .status = 2, .err = said("getpwnam"), .tools = prepared,
             .setup = [](const DeviceRoot& r) { std::filesystem::remove(r.host_path("/etc/passwd")); }},
            // Only root runs the device's programs, whichever way in: nothing runs.
            {.label = "started without root", .caller = starter("user"), .status = 2, .err = NOT_ROOT},
            {.label = "watchdog without root", .caller = starter("user"),
             .command = {"/bin/bash", "-c", shell_exec_app("app") + " watchdog"}, .status = 2, .err = NOT_ROOT},
            {.label = "no /data", .caller = starter(), .status = 2, .err = said("chdir: No such file or directory"),
             .tools = prepared, .setup = [](const DeviceRoot& r) { std::filesystem::remove(r.host_path("/data")); }},
            // Entered as app, not as the root that started us.
            {.label = "/data closed to app", .caller = starter(), .status = 2, .err = said("chdir: Permission denied"),
             .tools = prepared,
             .setup =
                 [](const DeviceRoot& r) {
                     ASSERT_EQ(chown(r.host_path("/data").c_str(), 0, 0), 0);
                     chmod(r.host_path("/data").c_str(), 0700);
                 }},
            // The caller's process limit: app's own process uses it up after
            // the change to app. A long name is cut to keep the reason.
            {.label = "programs cannot be forked", .caller = starter(),
             .command = {"/bin/bash", "-c", "ulimit -u 1 && " + shell_exec_app("/app/bin/app")},
             .err = said("fork steady failed: Resource temporarily unavailable") +
                    said("fork " + std::string(394, 'n') + ": Resource temporarily unavailable") + NO_CHILDREN,
             .tools = prepared,
             .setup =
                 [](const DeviceRoot& r) {
                     r.configure("steady /data/steady\n" + std::string(600, 'n') + " /data/steady\n", {"steady"});
                 }},
        },
        .each = ended_early};
}

// The tool runs first, to its end, as the starting identity, wherever we were
// started, without a parent-death signal; its failure does not matter. The
// caller leaves a child of its own to us: reaping that one must not count as
// the tool's end. The caller's stricter file mode mask stays for all we start.
TEST(Supervisor, PreparesTheDataAreaFirstAsTheStartingIdentity) {
    REQUIRE_ROOT();
    DeviceRoot root;
    root.control("unlock-datafs", "sleep 1500\nexit 3\n");
    root.configure("steady /data/steady\n", {"steady"});
    root.control("steady", "sleep 600000\n");
    RunOptions o;
    o.user = "0:27:27,44";
    o.cwd = "/tmp";
    o.timeout = 12;  // steady starts about 1.5 s in; the margin is a loaded machine's
    o.signal = 9;
    o.linger = 30;  // what is left running when the supervisor dies holds the run this long
    const auto start = std::chrono::steady_clock::now();
    auto r = supervise(root, o, "umask 077; sleep 0.2 & " + shell_exec_app("/app/bin/app"));
    const double took = seconds_since(start);

    EXPECT_EQ(r.status, 128 + 9);
    EXPECT_EQ(r.err, "");
    auto all = root.records();
    ASSERT_GE(all.size(), 2u);
    const Record& tool = all[0];
    EXPECT_EQ(tool.get("tool"), "unlock-datafs");
    EXPECT_EQ(tool.all("argv"), Strings{"/usr/bin/unlock-datafs"});
    EXPECT_EQ(tool.ids(), "0 0 0 0/27 27 27 27/27 44");
    EXPECT_EQ(tool.get("cwd"), "/tmp");
    EXPECT_EQ(tool.get("k.prctl.pdeathsig"), "0");
    EXPECT_EQ(tool.all("env"), TOOL_ENVIRONMENT);
    EXPECT_EQ(tool.get("k.status.Umask"), "0077");

    auto steady = root.records_of("steady");
    ASSERT_EQ(steady.size(), 1u);
    EXPECT_EQ(steady[0].get("k.status.Umask"), "0077");
    EXPECT_GE(steady[0].number("time_ms") - tool.number("time_ms"), 1500);
    // SIGKILL to the supervisor: its child got SIGTERM and nothing lingered.
    auto ended = root.records_of("steady", "signal");
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].get("pid"), steady[0].get("pid"));
    // A program left running would keep the run to the linger's end (42 s).
    EXPECT_LT(took, o.timeout + o.linger / 2);
}

TEST(Supervisor, RestartsEveryProgramThatEndsWithItsExitCode) {
    REQUIRE_ROOT();
    DeviceRoot root;
    root.standin("/data/noexec", 0644);
    std::filesystem::create_directory(root.host_path("/data/dir"));
    root.control("steady", "sleep 600000\n");
    root.control("flaky", "sleep 1000\nexit 3\n");
    root.control("killed", "sleep 1000\nkill 9\n");
    root.configure(
        "# programs of the device\n"
        "   # an indented comment\n"
        "steady\t/data/steady  --flag\n"
        "flaky flaky # x\n"
        "killed /data/killed\n"
        "noexec /data/noexec\n"
        "dir /data/dir\n"
        "none /data/none\n"
        "nameonly\n"
        "sleeper /usr/bin/sleep 600000\n",
        {"steady", "flaky", "killed"});
    RunOptions o;
    o.user = "0:27:27,44";
    // Programs get SIGTERM and SIGCHLD at their defaults and nothing blocked;
    // other dispositions are root's choice and stay. The stand-ins catch
    // SIGTERM; sleeper does not, and must still end with the supervisor.
    o.ignored = {SIGHUP, SIGTERM, SIGCHLD};
    o.blocked = {SIGTERM, SIGUSR1};
    o.timeout = 25;  // one restart round at about 17 s, the next at 34 s
    o.signal = 9;
    o.linger = 30;  // what is left running when the supervisor dies holds the run this long
    const auto start = std::chrono::steady_clock::now();
    auto r = supervise(root, o);
    const double took = seconds_since(start);
    EXPECT_EQ(r.status, 128 + 9);

    Strings lines = lines_of(r.err);
    for (const std::string& line : lines) EXPECT_EQ(line.rfind("app: ", 0), 0u) << line;
    // A program that cannot be executed fails in its child and is restarted each time.
    const std::string noexec_restart = said("noexec exited(255), restarting");
    const long failed_execs = count(lines, EXEC_REFUSED);
    const long noexec_restarts = count(lines, noexec_restart);
    EXPECT_GE(noexec_restarts, 1);
    EXPECT_EQ(failed_execs, noexec_restarts + 1);
    Strings rest;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(rest),
                 [&](const std::string& l) { return l != EXEC_REFUSED && l != noexec_restart; });
    ASSERT_EQ(rest.size(), 4u) << r.err;
    EXPECT_EQ(Strings(rest.begin(), rest.begin() + 2),
              (Strings{said("dir missing, disabling"), said("none missing, disabling")}));
    std::sort(rest.begin() + 2, rest.end());
    EXPECT_EQ(Strings(rest.begin() + 2, rest.end()),
              (Strings{said("flaky exited(3), restarting"), said("killed exited(0), restarting")}));

    auto steady = root.records_of("steady");
    ASSERT_EQ(steady.size(), 1u);
    const Record& s = steady[0];
    EXPECT_EQ(s.all("argv"), (Strings{"/data/steady", "--flag"}));
    EXPECT_EQ(s.ids(), "1000 1000 1000 1000/27 27 27 27/27 44");
    EXPECT_EQ(s.get("cwd"), "/data");
    EXPECT_EQ(s.all("env"), TOOL_ENVIRONMENT);
    EXPECT_EQ(s.get("k.prctl.pdeathsig"), "15");
    // The user-mode emulator catches every signal itself: what it executes gets them at their defaults.
    if (!emulated()) {
        EXPECT_EQ(s.get("k.status.SigIgn"), "0000000000000001");  // SIGHUP
    }
    EXPECT_EQ(s.get("k.status.SigBlk"), "0000000000000000");
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
    // The bounds catch a restart at once, or at a later poll; restarts at
    // different polls would be a pause apart.
    const long pause = flaky[1].number("time_ms") - flaky[0].number("time_ms");
    EXPECT_GT(pause, 15500);
    EXPECT_LT(pause, 2 * PAUSE_MS);
    EXPECT_LT(std::abs(flaky[1].number("time_ms") - killed[1].number("time_ms")), PAUSE_MS / 2);

    // SIGKILL to the supervisor: the running child got SIGTERM, nothing lingered.
    auto ended = root.records_of("steady", "signal");
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].get("pid"), s.get("pid"));
    // sleeper, or any program left running, would keep the run to the
    // linger's end (55 s).
    EXPECT_LT(took, o.timeout + o.linger / 2);
}

// Reached as the applet, the lines carry the name the caller used. Lines
// ending in CR LF keep the CR in their last token.
TEST(Supervisor, DisablesProgramsRemovedWhileTheyRanAndEndsWhenNoneIsLeft) {
    REQUIRE_ROOT();
    DeviceRoot root;
    root.configure(
        "gone /data/gone first\r\n"
        "crlf /data/gone\r\n"
        "also /data/also -x",
        {"gone", "also"});
    root.control("gone", "remove-after 1\nsleep 500\nexit 4\n");
    root.control("also", "remove-after 1\nsleep 1500\nkill 9\n");
    RunOptions o;
    o.argv0 = "/usr/bin/tavix";
    o.timeout = 60;
    o.linger = 2;
    auto r = root.run({"watchdog", "ignored"}, o);
    EXPECT_EQ(r.status, 0);
    // Both were gone at the first poll: a supervisor that waited for a
    // second one would take two pauses.
    EXPECT_GT(r.elapsed_ms, 16000);
    EXPECT_LT(r.elapsed_ms, 2 * PAUSE_MS - 4000);
    const std::string gone = "tavix: gone exited(4), restarting\ntavix: gone missing, disabling\n";
    const std::string also = "tavix: also exited(0), restarting\ntavix: also missing, disabling\n";
    const std::string first = "tavix: crlf missing, disabling\n", last = said_by("tavix", NO_CHILDREN);
    EXPECT_TRUE(r.err == first + gone + also + last || r.err == first + also + gone + last) << r.err;

    auto gone_runs = root.records_of("gone");
    ASSERT_EQ(gone_runs.size(), 1u);
    EXPECT_EQ(gone_runs[0].all("argv"), (Strings{"/data/gone", "first\r"}));
    auto also_runs = root.records_of("also");
    ASSERT_EQ(also_runs.size(), 1u);
    EXPECT_EQ(also_runs[0].all("argv"), (Strings{"/data/also", "-x"}));
}

}  // namespace
