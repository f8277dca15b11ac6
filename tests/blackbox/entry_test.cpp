// The entry: usage, applet lookup, supervisor choice, environment clean-up.
#include "device_root.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <regex>

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

// Every privileged action leaves a line with the system logger (a real one in
// the root): what ran, for whom, with which arguments; bounded and escaped
// whatever the caller passed. The supervisor's own lines go there too.
TEST(Entry, PrivilegedActionsLeaveLinesWithTheSystemLogger) {
    REQUIRE_ROOT();
    if (access("/usr/bin/busybox", X_OK) != 0) GTEST_SKIP() << "needs busybox (its syslogd)";
    struct Audited {
        std::vector<std::string> args;
        std::string user = "user";
        std::vector<std::string> lines;  // after "FACILITY.LEVEL app[N]: "
        std::string config;              // the supervisor's programs
        bool screen = false;             // the game gets a screen
    };
    const std::string by_user = ": uid=1001 user=user pid=N parent=/.devroot/init args=";
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::string seconds = std::to_string(now.tv_sec);  // the time the clock already has
    const std::string huge(100000, 'z');
    const Audited rows[] = {
        {{"service", "start", "modem"}, "user",
         {"authpriv.notice app[N]: running /etc/init.d/S38modem start" + by_user + "service start modem"}, ""},
        {{"reboot", "0"}, "user",
         {"authpriv.notice app[N]: scheduled /usr/sbin/reboot in 0 s" + by_user + "reboot 0",
          "authpriv.notice app[N]: running /usr/sbin/reboot" + by_user + "reboot 0"}, ""},
        // A delay the parser takes, with a line break in it.
        {{"poweroff", "\n 0"}, "user",
         {"authpriv.notice app[N]: scheduled /usr/sbin/poweroff in 0 s" + by_user + "poweroff \\x0a\\x200",
          "authpriv.notice app[N]: running /usr/sbin/poweroff" + by_user + "poweroff \\x0a\\x200"}, ""},
        {{"time", seconds, "0"}, "user",
         {"authpriv.notice app[N]: clock set from UTC to UTC" + by_user + "time " + seconds + " 0",
          "authpriv.notice app[N]: running /usr/sbin/hwclock --systohc" + by_user + "time " + seconds + " 0"}, ""},
        {{"doom", "1"}, "user",
         {"authpriv.notice app[N]: running /usr/games/prboom -width 800 -height 480" + by_user + "doom 1"}, "", true},
        {{"led", "beeper", "none"}, "user", {}, ""},  // called many times a second: no line
        // Each argument shows at most 64 bytes, escaped, "..." where it was cut.
        {{"watchdog", "\n\x1b[2J" + huge}, "user",
         {"authpriv.notice app[N]: supervisor refused" + by_user + "watchdog \\x0a\\x1b[2J" +
              std::string(50, 'z') + "...",
          "daemon.err app[N]: setuid: Operation not permitted"}, ""},
        {{}, "", {"authpriv.notice app[N]: supervisor started: uid=0 user=root pid=N parent=/.devroot/init args=",
                  "daemon.warn app[N]: once exited(0), restarting", "daemon.warn app[N]: once missing, disabling",
                  "daemon.notice app[N]: no more children, exiting"},
         "once /data/once\n"},
    };
    static const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{9}Z)");
    for (const Audited& row : rows) {
        const std::string label = row.args.empty() ? "supervisor" : row.args[0];
        if (row.screen && !devroot::screen_available()) continue;
        DeviceRoot root(true);
        if (row.screen) devroot::give_screen(root, "800 480");
        if (!row.config.empty()) {
            std::filesystem::copy_file(root.host_path("/etc/init.d/S38modem"), root.host_path("/data/once"));
            root.control("once", "remove-after 1\n");
            root.write("/app/share/tavix/watchdog.conf", row.config);
        }
        RunOptions o;
        o.user = row.user;
        o.syslog = true;
        o.linger = 1;  // the logger writes on its own time
        if (row.args.empty()) o.argv0 = "/app/bin/app";
        if (row.screen) o.env = {devroot::screen_env()};
        root.run(row.args, o);
        std::vector<std::string> lines;
        for (const std::string& line : root.log_lines()) lines.push_back(std::regex_replace(line, utc, "UTC"));
        EXPECT_EQ(lines, row.lines) << label;
    }
    // However many and however long the arguments, one line of bounded length.
    DeviceRoot root(true);
    RunOptions o;
    o.user = "user";
    o.syslog = true;
    o.linger = 1;
    root.run({"watchdog", huge, huge, huge, huge, huge, huge, huge, huge}, o);
    const auto lines = root.log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_LE(lines[0].size(), 1024u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - 10), "zzz... ...");
}

// A logger that never reads holds up nothing: the line is dropped.
TEST(Entry, AFullSystemLoggerHoldsUpNoApplet) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    const int logger = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = root.host_path("/dev/log");
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(logger, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    chmod(path.c_str(), 0666);
    const int filler = socket(AF_UNIX, SOCK_DGRAM, 0);
    while (sendto(filler, "x", 1, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&address), sizeof address) == 1) {
    }
    RunOptions o;
    o.user = "user";
    o.timeout = 30;  // a blocked send would hang the applet until this kills it
    o.linger = 5;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"reboot", "0"}, {"service", "start", "modem"}}) {
        auto r = root.run(args, o);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        EXPECT_EQ(r.err, "") << args[0];
    }
    EXPECT_EQ(root.records_of("reboot").size(), 1u);
    EXPECT_EQ(root.records_of("S38modem").size(), 1u);
    close(filler);
    close(logger);
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
