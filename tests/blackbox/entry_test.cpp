// The entry: usage, applet lookup, supervisor choice, environment clean-up.
#include "device_root.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>

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
    // 2026-12-08T17:33:36.123456789Z: 30 characters, T and Z in place.
    const auto mask_utc = [](std::string line) {
        for (std::size_t z = line.find('Z'); z != std::string::npos; z = line.find('Z', z + 1))
            if (z >= 29 && line[z - 19] == 'T' && line[z - 10] == '.') line.replace(z - 29, 30, "UTC"), z -= 29;
        return line;
    };
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
        for (const std::string& line : root.log_lines()) lines.push_back(mask_utc(line));
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
    bool tied;           // ends by SIGTERM when the applet ends (the game)
    std::string path;
};

const RootTool ROOT_TOOLS[] = {
    {"service start gen-certs", "S49gen-certs", 102400, false, "/app/etc/init.d/S49gen-certs"},  // the caller allows 1 KiB
    {"time $(date '+%s %N')", "hwclock", 0, false, "/usr/sbin/hwclock"},  // the time the clock already has
    {"reboot 0", "reboot", 0, false, "/usr/sbin/reboot"},
    {"poweroff 0", "poweroff", 0, false, "/usr/sbin/poweroff"},
    {"doom 3", "prboom", 0, true, "/usr/games/prboom"},  // though its group changed after the fork
};

// Whoever calls, a tool run as root starts as init would start it.
TEST(Entry, ToolsRunAsRootStartAsInitWouldStartThem) {
    REQUIRE_ROOT();
    for (const RootTool& t : ROOT_TOOLS) {
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

// What the kernel keeps for a process (the stand-in's k.* fields) in which a
// root tool the hostile caller started may differ from the same tool started
// by a service manager. A pattern as fnmatch(3) takes it; with `bits`, only
// those bits of the number may differ. Nothing the app must reset belongs here.
struct Allowed {
    const char* pattern;
    unsigned long long bits = 0;
};
const Allowed KERNEL_VIEW_MAY_DIFFER[] = {
    // Which process it is and who its parent, group and session are: numbers
    // (whether it leads them is compared); each run has its own PID, mount
    // and cgroup namespace.
    {"k.stat.[1456]"}, {"k.status.Pid"}, {"k.status.PPid"}, {"k.status.Tgid"}, {"k.status.NS*"}, {"k.autogroup.id"},
    {"k.ns.mnt"}, {"k.ns.pid*"}, {"k.ns.cgroup"},
    // When it started, where it ran, what it has done so far.
    {"k.stat.1[0-7]"}, {"k.stat.22"}, {"k.stat.39"}, {"k.stat.4[234]"}, {"k.status.*ctxt_switches"},
    {"k.sched.se.exec_start"}, {"k.sched.se.vruntime"}, {"k.sched.se.sum_exec_runtime"}, {"k.sched.se.avg.*"},
    {"k.sched.*nr_*"}, {"k.sched.clock-delta"}, {"k.sched.*numa*"},
    // Memory figures and the addresses of a randomized layout.
    {"k.stat.2[34678]"}, {"k.stat.4[5-9]"}, {"k.stat.5[01]"}, {"k.status.Vm*"}, {"k.status.Rss*"},
    // Signals queued to any of the user's processes (their limit is in k.limits).
    {"k.status.SigQ"},
    // How large the descriptor table once grew, not what is in it; and the
    // note that the process image used a privilege (PF_SUPERPRIV).
    {"k.status.FDSize"}, {"k.stat.9", 0x100},
    // Kept by design: the audit record of who logged in, and restrictions
    // that cannot be lifted but only restrict (write-or-execute memory,
    // speculation).
    {"k.loginuid"}, {"k.sessionid"}, {"k.prctl.mdwe"}, {"k.prctl.spec_*"}, {"k.status.Speculation*"},
};

// The game keeps the caller's session and terminal (k.stat.7 and 8), with the
// session's autogroup and its nice value, which only the caller may change
// for all of its session; its process group is the applet's; it ends with
// the applet.
const Allowed GAME_MAY_DIFFER[] = {
    {"k.sid_leader"}, {"k.ctty"}, {"k.stat.[78]"}, {"k.autogroup.nice"}, {"k.pgrp_leader"}, {"k.prctl.pdeathsig"},
};

// qemu-arm's user mode implements neither keyctl nor set_mempolicy nor
// PR_SET_THP_DISABLE: the emulated app is told ENOSYS or EINVAL, as by a kernel
// without them, while the caller (a host program) did set them on the host's
// kernel. A real ARM kernel has them (the native rows prove the steps).
// Debian 13's qemu-arm also keeps host real-time signals for itself, ignored,
// and whatever it starts inherits them ignored: that is the emulator's doing.
const Allowed EMULATOR_MAY_DIFFER[] = {
    {"k.keys.*"}, {"k.mempolicy"}, {"k.prctl.thp_disable"}, {"k.status.THP_enabled"}, {"k.status.SigIgn"},
};

bool may_differ(const std::string& key, const std::string& a, const std::string& b, const RootTool& t) {
    auto matches = [&](const Allowed& allowed) {
        if (fnmatch(allowed.pattern, key.c_str(), 0) != 0) return false;
        if (!allowed.bits) return true;
        return ((std::strtoull(a.c_str(), nullptr, 10) ^ std::strtoull(b.c_str(), nullptr, 10)) & ~allowed.bits) == 0;
    };
    for (const Allowed& allowed : KERNEL_VIEW_MAY_DIFFER)
        if (matches(allowed)) return true;
    if (t.tied)
        for (const Allowed& allowed : GAME_MAY_DIFFER)
            if (matches(allowed)) return true;
    if (devroot::emulated())
        for (const Allowed& allowed : EMULATOR_MAY_DIFFER)
            if (matches(allowed)) return true;
    return false;
}

std::map<std::string, std::string> kernel_view(const Record& r) {
    std::map<std::string, std::string> view;
    for (const auto& [key, value] : r.fields)
        if (key.rfind("k.", 0) == 0) view[key] += value + ";";
    return view;
}

// The same tool started by a service manager, then by a caller that set all
// it could on itself: the kernel's view of the two processes is the same, but
// for what identifies the process and what cannot be undone. `delegated`:
// the caller sits in a cgroup of its own, as a service manager delegates one.
void expect_kernel_view_of_a_service(bool delegated) {
    for (const RootTool& t : ROOT_TOOLS) {
        if (t.tool == "prboom" && !devroot::screen_available()) continue;
        DeviceRoot root(true);
        RunOptions reference;
        reference.session = true;
        reference.cgroup2 = delegated;
        auto r = root.run_command({t.path}, reference);
        ASSERT_EQ(r.status, 0) << t.path << ": " << r.err;
        if (t.tool == "prboom") devroot::give_screen(root, "800 480");
        RunOptions o;
        o.user = "user";
        o.hostile = true;
        o.cgroup2 = delegated;
        if (delegated) o.delegate = "caller";
        if (t.tool == "prboom") o.env = {devroot::screen_env()};
        o.linger = 5;
        r = root.run_command({"/bin/bash", "-c", devroot::shell_exec_app("app") + " " + t.applet}, o);
        EXPECT_EQ(r.status, 0) << t.applet;
        auto runs = root.records_of(t.tool);
        ASSERT_EQ(runs.size(), 2u) << t.applet << ": " << r.err;
        auto expected = kernel_view(runs[0]), seen = kernel_view(runs[1]);
        ASSERT_GT(expected.size(), 100u) << t.applet;
        for (const auto& [key, value] : seen) expected.emplace(key, "(none)");
        for (const auto& [key, value] : expected) {
            auto found = seen.find(key);
            std::string other = found == seen.end() ? "(none)" : found->second;
            if (other != value && !may_differ(key, value, other, t))
                ADD_FAILURE() << t.applet << ": " << key << " is " << other << ", started by a service manager "
                              << value;
        }
    }
}

TEST(Entry, ToolsRunAsRootInheritNothingTheKernelKeepsForTheCaller) {
    REQUIRE_ROOT();
    expect_kernel_view_of_a_service(false);
}

TEST(Entry, ToolsRunAsRootLeaveTheCallersDelegatedCgroup) {
    REQUIRE_ROOT();
    if (!devroot::cgroup2_available()) GTEST_SKIP() << "no cgroup v2 hierarchy here to give a device root one of";
    expect_kernel_view_of_a_service(true);
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

// Every tool run as root: how a caller asks for it, its path in the root
// (under /usr: the overlay's upper layer) and its name.
struct ToolPath {
    std::string applet, path, name;
};
const ToolPath TOOL_PATHS[] = {
    {"service start modem", "/etc/init.d/S38modem", "S38modem"},
    {"time $(date '+%s %N')", "/.devroot/usr-upper/sbin/hwclock", "hwclock"},  // the time the clock has
    {"reboot 0", "/.devroot/usr-upper/sbin/reboot", "reboot"},
    {"poweroff 0", "/.devroot/usr-upper/sbin/poweroff", "poweroff"},
};

// Puts the shell script `text` in place of every tool, root's, mode 0755,
// with the device's /dev/std* links that scripts re-open streams by.
void script_every_tool(const DeviceRoot& root, const std::string& text) {
    for (const ToolPath& t : TOOL_PATHS) {
        std::filesystem::remove(root.host_path(t.path));
        root.write(t.path, text, 0755);
    }
    for (int fd : {0, 1, 2}) {
        static const char* names[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
        std::filesystem::remove(root.host_path(names[fd]));
        std::filesystem::create_symlink("/proc/self/fd/" + std::to_string(fd), root.host_path(names[fd]));
    }
}

// A caller in perl, the one scripting language every Debian has: `setup`
// runs, then a shell that becomes app with `applet`.
std::vector<std::string> perl_caller(const std::string& setup, const std::string& applet) {
    return {"/usr/bin/perl", "-MPOSIX", "-e", setup + "exec('/bin/bash', '-c', $ARGV[0]) or die 'exec'",
            devroot::shell_exec_app("app") + " " + applet};
}

// Perl that puts `path`, opened with `flags`, on descriptor `fd`.
std::string put(int fd, const std::string& path, int flags) {
    return "POSIX::dup2(POSIX::open('" + path + "', " + std::to_string(flags) + ") // die('" + path + "'), " +
           std::to_string(fd) + ") // die('dup2'); ";
}

struct StreamsCaller {
    std::string label;
    std::string setup;  // perl
    bool pipes;         // the test's pipes stay on 0-2
};

// A descriptor the caller holds in the wrong direction, or only as a path
// (O_PATH needs no permission on the file), must not let a root tool re-open
// its file by name: what the tool writes goes nowhere, what it reads is empty.
TEST(Entry, RootToolsReopenTheirStreamsOnlyInTheCallersDirection) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    script_every_tool(root,
                      "#!/bin/sh\n"
                      "echo \"${0##*/} out\" >/dev/stdout\n"
                      "echo \"${0##*/} err\" >/dev/stderr\n"
                      "cat /dev/stdin >/records/${0##*/}.stdin\n"
                      "echo ran >/records/${0##*/}.ran\n");
    const std::map<std::string, std::pair<std::string, mode_t>> files = {
        {"/etc/secret", {"root's secret\n", 0600}},
        {"/etc/key", {"root's key\n", 0600}},
        {"/etc/public", {"anyone may read this\n", 0644}},
        {"/etc/dropbox", {"anyone may add to this\n", 0622}},
    };
    const StreamsCaller callers[] = {
        {"path 0 and 2, read-only 1",
         put(0, "/etc/secret", O_PATH) + put(1, "/etc/public", O_RDONLY) + put(2, "/etc/key", O_PATH), false},
        {"write-only 0, path 1, read-only 2",
         put(0, "/etc/dropbox", O_WRONLY) + put(1, "/etc/key", O_PATH) + put(2, "/etc/public", O_RDONLY), false},
        {"pipes", "", true},
    };
    for (const StreamsCaller& c : callers) {
        for (const ToolPath& t : TOOL_PATHS) {
            for (const auto& [path, file] : files) root.write(path, file.first, file.second);
            RunOptions o;
            o.user = "user";
            o.stdin_pipe = c.pipes;
            o.stdin_text = "the caller's text\n";
            o.linger = 10;  // bounds only a background tool that never ends
            auto r = root.run_command(perl_caller(c.setup, t.applet), o);
            const std::string label = c.label + ", " + t.applet;
            EXPECT_EQ(r.status, 0) << label;
            EXPECT_EQ(r.out, c.pipes ? t.name + " out\n" : "") << label;
            EXPECT_EQ(r.err, c.pipes ? t.name + " err\n" : "") << label;
            EXPECT_EQ(root.read("/records/" + t.name + ".ran"), "ran\n") << label;
            EXPECT_EQ(root.read("/records/" + t.name + ".stdin"), c.pipes ? o.stdin_text : "") << label;
            for (const auto& [path, file] : files) EXPECT_EQ(root.read(path), file.first) << label << ": " << path;
            for (const char* suffix : {".ran", ".stdin"})
                std::filesystem::remove(root.host_path("/records/" + t.name + suffix));
        }
    }
}

// Interval timers survive exec: a caller's must not pick the moment a root
// tool dies. (The applet's own waiting process may die of them.)
TEST(Entry, ACallersTimersNeverEndARootTool) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    // CPU in the script's own process (ITIMER_PROF counts only that), then
    // a wait (ITIMER_REAL), then its file.
    script_every_tool(root,
                      "#!/bin/sh\n"
                      "i=0\n"
                      "while [ $i -lt 300000 ]; do i=$((i + 1)); done\n"
                      "sleep 1.5\n"
                      "echo $i >/records/${0##*/}.out\n");
    auto arm = [](int timer, long us) {
        return "syscall(" + std::to_string(SYS_setitimer) + ", " + std::to_string(timer) +
               ", my $v = pack('l!4', 0, 0, " + std::to_string(us / 1000000) + ", " +
               std::to_string(us % 1000000) + "), 0) == 0 or die('setitimer'); ";
    };
    // Both are more than the applet takes before it forks, even emulated or
    // sanitized on a busy machine, and less than the script runs: 100 ms of
    // CPU (its loop takes about 300) and 1 s (it runs 1.5 s longer).
    const std::string timers = arm(ITIMER_REAL, 1000000) + arm(ITIMER_PROF, 100000);
    for (const ToolPath& t : {TOOL_PATHS[0], TOOL_PATHS[1]}) {  // the others run in a child of the applet's
        RunOptions o;
        o.user = "user";
        o.linger = 10;  // bounds only a tool that never ends
        auto r = root.run_command(perl_caller(timers, t.applet), o);
        EXPECT_EQ(root.read("/records/" + t.name + ".out"), "300000\n") << t.applet << ", app's status " << r.status;
    }
}

// The root steps are the tool's alone: a caller that runs app (rather than
// becoming it) keeps the priorities it gave itself.
TEST(Entry, TheCallerKeepsItsOwnPriorities) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    for (const ToolPath& t : TOOL_PATHS) {
        RunOptions o;
        o.user = "user";
        o.linger = 10;  // bounds only a background tool that never ends
        // Background tools: their root steps come after the applet returned;
        // the wait for their record is bounded at 10 s.
        const std::string line = "renice -n 19 $$ >/dev/null; ionice -c 3 -p $$; (" +
                                 devroot::shell_exec_app("app") + " " + t.applet +
                                 "); for i in $(seq 100); do grep -qs tool=" + t.name +
                                 " /records/log && break; sleep 0.1; done; echo \"$(nice) $(ionice -p $$)\"";
        auto r = root.run_command({"/bin/bash", "-c", line}, o);
        EXPECT_EQ(r.out, "19 idle\n") << t.applet << ": " << r.err;
        EXPECT_EQ(root.records_of(t.name).size(), 1u) << t.applet;
    }
}

}  // namespace
