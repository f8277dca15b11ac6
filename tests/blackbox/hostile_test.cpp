// Hostile callers: what an unprivileged program can do to the set-user-ID
// binary, one row per invocation. Every row ends in a clear diagnostic with
// its status, or in the normal result; after each, the same checks hold (see
// hostile()).
#include <csignal>
#include <cstdio>
#include <set>

#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;

const std::string HOSTILE_DIR = "/tmp/hostile";  // the caller's own directory in the root
const std::string BIG(128 * 1024 - 1, 'z');      // the kernel's limit for one string, less its zero byte

// The unprivileged caller ("" for root), with the descriptors it closes, its
// environment and its resource limits ("nofile=3").
RunOptions caller(std::string user, std::vector<int> closed = {}, Strings env = {}, Strings rlimits = {}) {
    // The run ends as soon as every process of it has ended.
    return {.user = std::move(user), .env = std::move(env), .close_fds = std::move(closed),
            .rlimits = std::move(rlimits), .linger = 30};
}
RunOptions user(std::vector<int> closed = {}) { return caller("user", std::move(closed)); }

// Every loader, C library and shell variable that could steer a privileged
// program (a shell script's too), pointing into HOSTILE_DIR.
Strings hazard_environment() {
    const std::string d = HOSTILE_DIR;
    return {"LD_PRELOAD=" + d + "/libhook.so",
            "LD_LIBRARY_PATH=" + d,
            "LD_AUDIT=" + d + "/libhook.so",
            "GCONV_PATH=" + d,
            "LOCPATH=" + d,
            "MALLOC_CHECK_=3",
            "MALLOC_PERTURB_=165",
            "MALLOC_ARENA_MAX=1",
            "GLIBC_TUNABLES=glibc.malloc.check=3:glibc.malloc.tcache_count=0",
            "TZ=" + d + "/tz",
            "NLSPATH=" + d + "/%N",
            "IFS=/",
            "PATH=" + d + "/bin",
            "LANG=xx_XX.UTF-8",
            "LC_ALL=xx_XX.UTF-8",
            "HOME=" + d,
            "SHELL=" + d + "/bin/sh",
            "ENV=" + d + "/rc"};
}
RunOptions hazards() { return caller("user", {}, hazard_environment()); }

// A directory of the caller's own: look-alike tools and a time zone file.
// The loader variables point there too; whether the loader honours them in
// a set-user-ID start is the C library's business, and a tool that got them
// fails check_tool_start.
void plant_look_alikes(const DeviceRoot& root) {
    for (const char* name : {"reboot", "poweroff", "hwclock", "prboom", "S50nginx", "sh", "unlock-datafs"})
        root.standin(HOSTILE_DIR + "/bin/" + name);
    root.write(HOSTILE_DIR + "/tz", "not a zone file");
}

// Every tool that ran saw only the fixed environment, was the real file, had
// /dev/null or the caller's pipes on 0-2 and nothing else, and every signal
// at its default and unblocked.
void check_tool_start(const Record& r, const std::string& label) {
    static const std::set<std::string> fixed(GAME_ENVIRONMENT.begin(), GAME_ENVIRONMENT.end());
    const std::string tool = r.get("tool");
    for (const std::string& e : r.all("env")) EXPECT_TRUE(fixed.count(e)) << label << ": " << tool << " saw " << e;
    EXPECT_EQ(r.get("exe").rfind(HOSTILE_DIR, 0), std::string::npos) << label << ": ran " << r.get("exe");
    std::set<int> seen;
    for (const std::string& fd : r.all("fd")) {
        int number = std::stoi(fd);
        std::string target = fd.substr(fd.find(':') + 1);
        std::string device = fd.substr(fd.rfind(':') + 1);
        seen.insert(number);
        EXPECT_LT(number, 3) << label << ": " << tool << " inherited " << fd;
        // /dev/null by its device, whatever name a bind mount gives it.
        EXPECT_TRUE(device == "char 1,3" || target.rfind("pipe:", 0) == 0) << label << ": " << tool << " got " << fd;
    }
    EXPECT_EQ(seen, (std::set<int>{0, 1, 2})) << label << ": " << tool;
    // Whatever the caller ignored or blocked, real-time signals included.
    EXPECT_EQ(r.get("k.status.SigIgn"), "0000000000000000") << label << ": " << tool;
    EXPECT_EQ(r.get("k.status.SigBlk"), "0000000000000000") << label << ": " << tool;
}

// After every row: the tools' starts as above (no file changed but the LED
// files named: Table::unchanged).
void after_hostile_row(const DeviceRoot& root, const Row& row, const RunResult&) {
    const std::string label = label_of(row);
    for (const Record& r : root.records())
        if (r.get("event") == "start") check_tool_start(r, label);
}

// Every row in a set-user-ID device root holding the caller's look-alike
// tools and libraries.
Table hostile(std::vector<Row> rows, Needs needs = nullptr) {
    return {.rows = std::move(rows), .setuid = true, .unchanged = true, .prepare = plant_look_alikes,
            .each = after_hostile_row, .needs = std::move(needs)};
}

std::string who(const std::string& user) { return user.empty() ? " (root)" : " (set-user-ID)"; }

std::vector<Row> entry_rows() {
    std::vector<Row> rows;
    for (int fd : {-1, 0, 1, 2}) {
        RunOptions o = user();
        o.no_argv = true;
        if (fd >= 0) o.close_fds = {fd};
        rows.push_back({.label = fd < 0 ? "argc 0" : "argc 0, fd " + std::to_string(fd) + " closed", .caller = o,
                        .status = 1, .err = fd == 2 ? "" : top_usage(""),
                        .needs = not_emulated("the emulator cannot start a program with an empty argument vector")});
    }
    RunOptions huge_argv0 = user();
    huge_argv0.argv0 = BIG;
    rows.push_back({.label = "1 MiB of arguments, argv[0] 128 KiB", .args = Strings(7, BIG), .caller = huge_argv0,
                    .status = 1, .err = top_usage(BIG)});
    Strings many{"reboot"};
    many.insert(many.end(), 8, BIG);
    Strings crowd;
    for (int i = 0; i < 10000; ++i) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "V%d=%d", i, i);
        crowd.emplace_back(entry);
    }
    rows.insert(rows.end(), {
        {.label = "1 MiB of arguments to reboot", .args = many, .caller = user(), .status = 1,
         .err = delay_usage("reboot")},
        {.label = "128 KiB of zeros", .args = {"reboot", std::string(BIG.size(), '0')}, .caller = user(),
         .tools = {"reboot"}},
        {.label = "10,000 environment variables", .args = {"reboot", "0"}, .caller = caller("user", {}, crowd),
         .tools = {"reboot"}},
    });
    rows.push_back({.label = "every hazard at once", .args = {"reboot", "0"}, .caller = hazards(), .tools = {"reboot"}});
    rows.push_back({.label = "every hazard, then a diagnostic", .args = {"reboot", "x"}, .caller = hazards(),
                    .status = 1, .err = DELAY_UNPARSED});

    RunOptions odd_argv0 = user();
    odd_argv0.argv0 = "\xc3\x28\xff";
    rows.push_back({.label = "non-UTF-8 argv[0]", .args = {"\xfe"}, .caller = odd_argv0, .status = 1,
                    .err = top_usage("\xc3\x28\xff")});
    rows.push_back({.label = "non-UTF-8 applet name", .args = {"reb\xc3\xb6ot", "0"}, .caller = user(), .status = 1,
                    .err = top_usage("app")});

    // The entry fills closed standard descriptors before any applet runs. A
    // tool run as root gets its streams checked again (root_context.cpp), and
    // in a set-user-ID start the C library has filled them first: root's
    // supervisor, whose preparation tool gets our descriptors as they are,
    // is where a gap the entry left shows. All three closed, and only the
    // last one (a fill that stops early).
    rows.push_back({.label = "fds 0-2 closed (set-user-ID)", .args = {"reboot", "0"}, .caller = caller("user", {0, 1, 2}),
                    .tools = {"reboot"}});
    rows.push_back({.label = "fds 0-2 closed (root), watchdog", .args = {"watchdog"}, .caller = caller("", {0, 1, 2}),
                    .tools = {"unlock-datafs"}});
    rows.push_back({.label = "fd 2 closed (root), watchdog", .args = {"watchdog"}, .caller = caller("", {2}),
                    .tools = {"unlock-datafs"}});
    return rows;
}

std::vector<Row> applet_rows() {
    const std::string big(128 * 1024 - 1, 'n');
    const std::string dir = "/sys/class/leds/backlight/";
    const std::string trigger = dir + "trigger";
    std::vector<Row> rows;

    // Attribute names the caller makes up: one component below the LED's
    // directory, and never a directory itself.
    for (const auto& [name, status, err] : std::vector<std::tuple<std::string, int, std::string>>{
             {"/", 1, invalid_name("/")},
             {"../../../../etc/passwd", 1, invalid_name("../../../../etc/passwd")},
             {"brightness/", 1, invalid_name("brightness/")},
             {"..", 2, said("open " + dir + "..: Is a directory")},
             {".", 2, said("open " + dir + ".: Is a directory")},
             {"", 2, said("open " + dir + ": Is a directory")},
             {"nosuch", 2, said("open " + dir + "nosuch: No such file or directory")},
             {"\xff\xfe", 2, said("open " + dir + "\xff\xfe: No such file or directory")},
             {big, 2, said("path too long")},
         })
        rows.push_back({.args = {"led", "backlight", "timer", name, "1"}, .caller = user(), .status = status,
                        .err = err, .leds = {{trigger, "timer"}}});
    for (const char* led : {"../leds/backlight", "backlight/", "backlight/..", "", ".", "\xff"})
        rows.push_back({.args = {"led", led, "timer"}, .caller = user(),
                        .status = 1, .err = LED_USAGE});
    rows.push_back({.label = "non-UTF-8 and 128 KiB values", .args = {"led", "beeper", "\xff\xfe", "brightness", big},
                    .caller = user(),
                    .leds = {{"/sys/class/leds/beeper/trigger", "\xff\xfe"}, {"/sys/class/leds/beeper/brightness", big}}});

    rows.push_back({.label = "service script from the caller's PATH", .args = {"service", "start", "nginx"},
                    .caller = hazards(), .tools = {"S50nginx"}});
    for (const char* name : {"../../tmp/hostile/bin/sh", "/etc/init.d/S50nginx", "S50nginx", "nginx\xff", ""})
        rows.push_back({.args = {"service", "restart", name},
                        .caller = user(), .status = 1, .err = SERVICE_USAGE});
    RunOptions realtime = user();
    realtime.ignored = realtime.blocked = {SIGRTMIN + 1, SIGRTMAX};
    for (const auto& [args, tool] : std::vector<std::pair<Strings, std::string>>{
             {{"service", "start", "modem"}, "S38modem"}, {{"reboot", "0"}, "reboot"}, {{"poweroff", "0"}, "poweroff"}})
        rows.push_back({.label = "real-time signals ignored and blocked, " + args[0], .args = args, .caller = realtime,
                        .tools = {tool}});

    rows.insert(rows.end(), {
        {.label = "time: 128 KiB of nines", .args = {"time", std::string(big.size(), '9'), "0"}, .caller = user(),
         .status = 2, .err = CLOCK_REFUSED, .clock = "EINVAL 9223372036854775807 0"},
        {.label = "time: every hazard", .args = {"time", "1", "1000000000"}, .caller = hazards(), .status = 1,
         .err = NANOSECONDS_OUT_OF_RANGE},
        {.label = "doom: every hazard", .args = {"doom", "1"}, .caller = hazards(), .err = NO_SCREEN},
    });

    // The supervisor runs for root alone: anyone else is refused before anything runs.
    RunOptions supervisor_path = hazards();
    supervisor_path.argv0 = "/app/bin/app";
    rows.push_back({.label = "supervisor: every hazard", .caller = supervisor_path, .status = 2, .err = NOT_ROOT});
    rows.push_back({.label = "watchdog: every hazard", .args = {"watchdog", "\xff"}, .caller = hazards(), .status = 2,
                    .err = NOT_ROOT});

    return rows;
}

// Resource limits at the least a start survives: one descriptor beyond 0-2
// for the dynamic loader, no processes at all. (Below that the loader or
// the C library refuses the start before any of the app runs.)
std::vector<Row> limit_rows() {
    std::vector<Row> rows;
    for (const std::string u : {"user", ""}) {
        auto limits = [&](Strings rlimits) { return caller(u, {}, {}, rlimits); };
        rows.insert(rows.end(), {
            {.label = "nofile 4" + who(u), .args = {"reboot", "0"}, .caller = limits({"nofile=4"}), .tools = {"reboot"}},
            {.label = "nproc 0" + who(u), .args = {"poweroff", "0"}, .caller = limits({"nproc=0"}),
             .tools = {"poweroff"}},
            {.label = "nproc 0, nofile 4" + who(u), .args = {"reboot", "3601"}, .caller = limits({"nproc=0", "nofile=4"}),
             .status = 1, .err = DELAY_OUT_OF_RANGE},
        });
    }
    rows.insert(rows.end(), {
        // Root's start gets as far as the tool, which runs with init's limits.
        {.label = "nofile 3, fd 2 closed (root)", .args = {"reboot", "0"}, .caller = caller("", {2}, {}, {"nofile=3"}),
         .tools = {"reboot"}},
        {.label = "nofile 4, led", .args = {"led", "beeper", "none", "brightness", "0"},
         .caller = caller("user", {}, {}, {"nofile=4"}),
         .leds = {{"/sys/class/leds/beeper/trigger", "none"}, {"/sys/class/leds/beeper/brightness", "0"}}},
        {.label = "nproc 0, doom", .args = {"doom", "1"}, .caller = caller("user", {}, {}, {"nproc=0"}), .err = NO_SCREEN},
    });
    return rows;
}

TABLE(Hostile, EntryAndPowerApplets) { return hostile(entry_rows()); }

TABLE(Hostile, Applets) { return hostile(applet_rows()); }

std::string limits_reachable() {
    return APP_SANITIZED ? "the sanitizer runtime needs descriptors and processes of its own before main" : "";
}

TABLE(Hostile, ResourceLimitsAtTheirMinimum) { return hostile(limit_rows(), limits_reachable); }

}  // namespace
