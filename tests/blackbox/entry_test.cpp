// The entry: usage, applet lookup, supervisor choice, environment clean-up.
#include "device_root.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

namespace {

using devroot::DeviceRoot;
using devroot::Record;
using devroot::RunOptions;

std::string usage(const std::string& program) {
    return "usage: " + program +
           " <applet> [<options>]\napplets:\n  doom\n  led\n  poweroff\n  reboot\n  service\n  time\n  watchdog\n";
}

TEST(Entry, UnknownOrMissingAppletPrintsTheTopLevelUsage) {
    REQUIRE_ROOT();
    DeviceRoot root;
    const std::vector<std::vector<std::string>> cases = {
        {}, {""}, {"LED"}, {"le"}, {"leds"}, {"reboot "}, {"Reboot", "1"}, {"help"}, {"--help"}, {"\xff"},
    };
    for (const auto& args : cases) {
        auto r = root.run(args);
        EXPECT_EQ(r.status, 1) << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(r.err, usage("app")) << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(r.out, "");
    }
}

TEST(Entry, UsageShowsArgv0AsGiven) {
    REQUIRE_ROOT();
    DeviceRoot root;
    for (const std::string argv0 : {"./app", "app", "/app/bin/../bin/app", "/app/bin/app/", "x y"}) {
        RunOptions o;
        o.argv0 = argv0;
        o.cwd = "/app/bin";
        auto r = root.run({"nosuch"}, o);
        EXPECT_EQ(r.status, 1) << argv0;
        EXPECT_EQ(r.err, usage(argv0)) << argv0;
    }
}

TEST(Entry, EmptyArgumentVectorGetsUsageWithEmptyProgramName) {
    REQUIRE_ROOT();
    SKIP_IF_EMULATED("the emulator cannot start a program with an empty argument vector");
    DeviceRoot root(true);
    RunOptions o;
    o.no_argv = true;
    o.user = "user";
    auto r = root.run({}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, usage(""));
}

// Only argv[0] exactly "/app/bin/app" is the supervisor, whatever follows it.
TEST(Entry, SupervisorOnlyForTheExactInstalledPath) {
    REQUIRE_ROOT();
    DeviceRoot root;
    RunOptions o;
    o.argv0 = "/app/bin/app";
    o.linger = 2;
    std::size_t runs = 0;
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"reboot", "0"}, {"nosuch"}}) {
        auto r = root.run(args, o);
        // The supervisor prepared the data area and, with nothing configured, ended.
        EXPECT_EQ(r.err, "app: no more children, exiting\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(root.records_of("unlock-datafs").size(), ++runs);
        EXPECT_TRUE(root.records_of("reboot").empty());
    }
}

TEST(Entry, ToolsSeeOnlyTheFixedPathWhateverTheCallerSet) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    RunOptions o;
    o.user = "user";
    o.env = {"LD_PRELOAD=/tmp/evil.so", "LD_LIBRARY_PATH=/tmp", "GCONV_PATH=/tmp", "IFS=/",
             "PATH=/tmp:/bin",          "LOCPATH=/tmp",         "MALLOC_CHECK_=3", "TZ=/tmp/tz",
             "NLSPATH=/tmp/%N",         "HOME=/tmp",            "SHELL=/tmp/sh",   "ENV=/tmp/rc"};
    o.linger = 5;
    auto r = root.run({"reboot", "0"}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    auto runs = root.records_of("reboot");
    ASSERT_EQ(runs.size(), 1u) << r.err;
    EXPECT_EQ(runs[0].all("env"), std::vector<std::string>{"PATH=/usr/bin:/usr/sbin"});
}

// Everything a caller can set up before it calls an applet: its own ids and
// groups, tiny limits, the lowest priorities, a strict mask, its own directory,
// ignored signals, pinned CPUs and extra descriptors. (Lowered hard limits:
// the next test.)
const std::string CARELESS_CALLER =
    "ulimit -S -f 1 -n 16 -t 5; umask 077; cd /tmp; trap '' INT HUP TERM CHLD; "
    "exec 3</etc/passwd 4>/tmp/x 5<&0; renice -n 19 $$ >/dev/null; ionice -c 3 -p $$; "
    "taskset -p 1 $$ >/dev/null; chrt -i -p 0 $$; ";

struct RootTool {
    std::string applet;  // and its arguments, as shell words
    std::string tool;
    long writes;         // bytes the tool writes to a file of its own
    bool tied;           // ends by SIGTERM when the applet ends
};

// Whoever calls, a tool run as root starts as init would start it.
TEST(Entry, ToolsRunAsRootStartAsInitWouldStartThem) {
    REQUIRE_ROOT();
    const RootTool tools[] = {
        {"service start gen-certs", "S49gen-certs", 102400, false},  // the caller allows 1 KiB
        {"time $(date '+%s %N')", "hwclock", 0, false},  // the time the clock already has
        {"reboot 0", "reboot", 0, false},
        {"poweroff 0", "poweroff", 0, false},
        {"doom 3", "prboom", 0, true},  // though its group changed after the fork
    };
    for (const RootTool& t : tools) {
        if (t.tool == "prboom" && !devroot::screen_available()) continue;
        DeviceRoot root(true);
        if (t.writes) root.control(t.tool, "write " + std::to_string(t.writes));
        if (t.tool == "prboom") devroot::give_screen(root, "800 480");
        RunOptions o;
        o.user = "user";
        o.blocked = {SIGTERM, SIGHUP, SIGUSR1};
        if (t.tool == "prboom") o.env = {devroot::screen_env()};
        o.linger = 5;
        auto r = root.run_command({"/bin/bash", "-c", CARELESS_CALLER + devroot::shell_exec_app("app") + " " + t.applet},
                                  o);
        EXPECT_EQ(r.status, 0) << t.applet;
        EXPECT_EQ(r.err, "") << t.applet;
        auto runs = root.records_of(t.tool);
        ASSERT_EQ(runs.size(), 1u) << t.applet << ": " << r.err;
        const Record& s = runs[0];
        EXPECT_EQ(s.get("ruid") + s.get("euid") + s.get("suid") + s.get("rgid") + s.get("egid") + s.get("sgid"),
                  "000000") << t.applet;
        EXPECT_EQ(s.get("groups"), "") << t.applet;
        EXPECT_NE(s.get("limits"), "?") << t.applet;
        EXPECT_EQ(s.get("limits"), s.get("init_limits")) << t.applet;
        EXPECT_EQ(s.get("cpus"), s.get("init_cpus")) << t.applet;
        EXPECT_EQ(s.get("nice") + " " + s.get("policy") + " " + s.get("ioprio"), "0 0 0") << t.applet;
        EXPECT_EQ(s.get("umask"), "0022") << t.applet;
        EXPECT_EQ(s.get("cwd"), "/") << t.applet;
        EXPECT_EQ(s.get("sigign"), "0000000000000000") << t.applet;
        EXPECT_EQ(s.get("sigblk"), "0000000000000000") << t.applet;
        for (const std::string& fd : s.all("fd")) EXPECT_LT(std::stoi(fd), 3) << t.applet << ": " << fd;
        if (t.writes) {
            struct stat st{};
            ASSERT_EQ(stat(root.host_path("/records/" + t.tool + ".out").c_str(), &st), 0) << t.applet;
            EXPECT_EQ(st.st_size, t.writes) << t.applet;
            EXPECT_EQ(std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid), "0:0") << t.applet;
            EXPECT_EQ(st.st_mode & 07777, 0644u) << t.applet;
        }
        EXPECT_EQ(s.get("pdeathsig"), t.tied ? "15" : "0") << t.applet;
        EXPECT_EQ(root.records_of(t.tool, "signal").size(), t.tied ? 1u : 0u) << t.applet;
    }
}

// Only CAP_SYS_RESOURCE lifts a hard limit the caller lowered, and some
// machines' root lacks it (containers): then the tool must not run at all.
TEST(Entry, ACallersHardLimitIsLiftedOrNothingRuns) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    root.control("S49gen-certs", "write 102400");
    RunOptions o;
    o.user = "user";
    auto r = root.run_command(
        {"/bin/bash", "-c", "ulimit -f 1; " + devroot::shell_exec_app("app") + " service start gen-certs"}, o);
    if (!devroot::root_lifts_limits()) {
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "app: setrlimit: Operation not permitted\n");
        EXPECT_TRUE(root.records().empty());
        return;
    }
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st{};
    ASSERT_EQ(stat(root.host_path("/records/S49gen-certs.out").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 102400);
}

}  // namespace
