// Hostile callers: an unprivileged program starts the set-user-ID binary with
// whatever argv, environment, descriptors and limits it likes. Every case must
// end in a clear diagnostic with its status, or in the normal result; and after
// every case: no crash, no tool with anything but the fixed environment, no
// tool from the caller's look-alikes, no device but /dev/null on a tool's 0-2
// unless the caller gave it, nothing written but the LED files the case names.
#include "device_root.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

namespace {

using devroot::DeviceRoot;
using devroot::Record;
using devroot::RunOptions;

const std::string ANY = "\x01(not compared)";  // stderr the dynamic loader writes
const std::string TOP_USAGE_TAIL =
    " <applet> [<options>]\napplets:\n  doom\n  led\n  poweroff\n  reboot\n  service\n  time\n  watchdog\n";
const std::string HOSTILE_DIR = "/tmp/hostile";

struct Case {
    std::string label;
    std::vector<std::string> args;  // after argv[0]
    RunOptions options;
    int status;
    std::string err;                           // exact stderr, or ANY
    std::vector<std::string> tools;            // stand-ins that must start, in order
    std::map<std::string, std::string> leds;   // LED file (inside the root) -> content
};

int invocations = 0;

std::string top_usage(const std::string& program) { return "usage: " + program + TOP_USAGE_TAIL; }

RunOptions opts(std::string user, std::vector<int> closed = {}, std::vector<std::string> env = {},
                std::vector<std::string> rlimits = {}) {
    RunOptions o;
    o.user = std::move(user);
    o.close_fds = std::move(closed);
    o.env = std::move(env);
    o.rlimits = std::move(rlimits);
    o.linger = 5;  // ends as soon as every process of the run has ended
    return o;
}

std::vector<std::string> led_files() {
    std::vector<std::string> files;
    for (const char* led : {"backlight", "beeper", "lightpipe"})
        for (const char* attribute : {"trigger", "brightness", "max_brightness", "delay_on", "delay_off"})
            files.push_back(std::string("/sys/class/leds/") + led + "/" + attribute);
    return files;
}

// Size, time, mode and owner of everything in the root but the records and the
// LED files, which are checked by content.
std::map<std::string, std::string> snapshot(const DeviceRoot& root) {
    namespace fs = std::filesystem;
    static const std::set<std::string> skipped = {"/records", "/proc", "/.devroot/usr-work", "/.devroot/result"};
    const auto leds = led_files();
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(root.dir); it != fs::recursive_directory_iterator(); ++it) {
        std::string inside = it->path().string().substr(root.dir.size());
        if (skipped.count(inside)) {
            it.disable_recursion_pending();
            continue;
        }
        // The harness rewrites its result file in /.devroot on every run.
        if (inside == "/.devroot" || std::find(leds.begin(), leds.end(), inside) != leds.end()) continue;
        struct stat st{};
        lstat(it->path().c_str(), &st);
        files[inside] = std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                        std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_mode) + " " +
                        std::to_string(st.st_uid);
    }
    return files;
}

void check_tool_start(const Record& r, const std::string& label) {
    static const std::set<std::string> fixed = {"PATH=/usr/bin:/usr/sbin", "HOME=/root", "SDL_NOMOUSE=1"};
    const std::string tool = r.get("tool");
    for (const std::string& e : r.all("env")) EXPECT_TRUE(fixed.count(e)) << label << ": " << tool << " saw " << e;
    EXPECT_EQ(r.get("exe").rfind(HOSTILE_DIR, 0), std::string::npos) << label << ": ran " << r.get("exe");
    std::set<int> seen;
    for (const std::string& fd : r.all("fd")) {
        int number = std::stoi(fd);
        std::string target = fd.substr(fd.find(':') + 1);
        seen.insert(number);
        EXPECT_LT(number, 3) << label << ": " << tool << " inherited " << fd;
        EXPECT_TRUE(target == "/dev/null" || target.rfind("pipe:", 0) == 0) << label << ": " << tool << " got " << fd;
    }
    EXPECT_EQ(seen, (std::set<int>{0, 1, 2})) << label << ": " << tool;
}

void run_case(const DeviceRoot& root, const Case& c) {
    const auto before = snapshot(root);
    const std::size_t old_records = root.records().size();
    auto r = root.run(c.args, c.options);
    ++invocations;

    EXPECT_EQ(r.status, c.status) << c.label << "\n" << r.err.substr(0, 300);
    // Texts of 128 KiB stay out of the failure message.
    if (c.err != ANY) {
        EXPECT_TRUE(r.err == c.err) << c.label << ": stderr " << r.err.substr(0, 300);
    }
    EXPECT_EQ(r.out, "") << c.label;

    auto records = root.records();
    std::vector<std::string> started;
    for (std::size_t i = old_records; i < records.size(); ++i) {
        if (records[i].get("event") != "start") continue;
        started.push_back(records[i].get("tool"));
        check_tool_start(records[i], c.label);
    }
    EXPECT_EQ(started, c.tools) << c.label;

    for (const std::string& file : led_files()) {
        auto expected = c.leds.find(file);
        EXPECT_EQ(root.read(file), expected == c.leds.end() ? "" : expected->second) << c.label << ": " << file;
        root.write(file, "");
    }
    const auto after = snapshot(root);
    for (const auto& [path, state] : after) {
        auto old = before.find(path);
        EXPECT_TRUE(old != before.end() && old->second == state) << c.label << ": " << path << " written";
    }
    for (const auto& [path, state] : before) EXPECT_TRUE(after.count(path)) << c.label << ": " << path << " removed";

    // The caller's LD_PRELOAD may reach the app only when root started it.
    std::string preloaded = root.read("/records/preloaded");
    if (c.options.user.empty()) {
        std::size_t line = 0;
        for (std::size_t end; (end = preloaded.find('\n', line)) != std::string::npos; line = end + 1)
            EXPECT_EQ(preloaded.compare(line, 13, "/app/bin/app "), 0) << c.label << ": " << preloaded;
    } else {
        EXPECT_EQ(preloaded, "") << c.label;
    }
    std::remove(root.host_path("/records/preloaded").c_str());
}

// A directory of the caller's own: look-alike tools, a library that reports
// being loaded, a fake C library.
void plant_look_alikes(const DeviceRoot& root) {
    namespace fs = std::filesystem;
    fs::create_directories(root.host_path(HOSTILE_DIR + "/bin"));
    const std::string standin = root.host_path("/.devroot/usr-upper/sbin/reboot");
    for (const char* name : {"reboot", "poweroff", "hwclock", "prboom", "S50nginx", "sh", "unlock-datafs"})
        fs::copy_file(standin, root.host_path(HOSTILE_DIR + "/bin/" + name));
    fs::copy_file(HOSTILE_PRELOAD, root.host_path(HOSTILE_DIR + "/libhook.so"));
    fs::copy_file(HOSTILE_PRELOAD, root.host_path(HOSTILE_DIR + "/libc.so.6"));
    root.write(HOSTILE_DIR + "/tz", "not a zone file");
}

std::vector<std::string> hazard_environment() {
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
            "LC_ALL=xx_XX.UTF-8"};
}

std::vector<Case> entry_cases() {
    const std::string reboot_usage = "usage: app reboot <seconds>\n";
    const std::string parse = "app: cannot parse seconds\n";
    const std::string range = "app: seconds outside of [0, 3600] interval\n";
    const std::string big(128 * 1024 - 1, 'z');  // the kernel's limit for one string, less its zero byte
    std::vector<Case> cases;

    RunOptions no_argv = opts("user");
    no_argv.no_argv = true;
    // A user-mode emulator cannot start a program with an empty argument vector.
    for (int fd : {-1, 0, 1, 2}) {
        if (devroot::emulated()) break;
        RunOptions o = no_argv;
        if (fd >= 0) o.close_fds = {fd};
        std::string label = fd < 0 ? "argc 0" : "argc 0, fd " + std::to_string(fd) + " closed";
        cases.push_back({label, {}, o, 1, fd == 2 ? "" : top_usage(""), {}, {}});
    }

    RunOptions huge_argv0 = opts("user");
    huge_argv0.argv0 = big;
    cases.push_back({"1 MiB of arguments, argv[0] 128 KiB", std::vector<std::string>(7, big), huge_argv0, 1,
                     top_usage(big), {}, {}});
    std::vector<std::string> many{"reboot"};
    many.insert(many.end(), 8, big);
    cases.push_back({"1 MiB of arguments to reboot", many, opts("user"), 1, reboot_usage, {}, {}});
    cases.push_back({"128 KiB of zeros", {"reboot", std::string(big.size(), '0')}, opts("user"), 0, "", {"reboot"}, {}});
    cases.push_back({"128 KiB of nines", {"reboot", std::string(big.size(), '9')}, opts("user"), 1, range, {}, {}});
    std::string minus_nines(big.size(), '9');
    minus_nines[0] = '-';
    cases.push_back({"128 KiB of minus nines", {"poweroff", minus_nines}, opts("user"), 1, range, {}, {}});

    std::vector<std::string> crowd;
    for (int i = 0; i < 10000; ++i) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "V%d=%d", i, i);
        crowd.emplace_back(entry);
    }
    cases.push_back({"10,000 environment variables", {"reboot", "0"}, opts("user", {}, crowd), 0, "", {"reboot"}, {}});

    for (const std::string& e : hazard_environment())
        cases.push_back({e, {"poweroff", "0"}, opts("user", {}, {e}), 0, "", {"poweroff"}, {}});
    cases.push_back({"every hazard at once", {"reboot", "0"}, opts("user", {}, hazard_environment()), 0, "", {"reboot"}, {}});
    cases.push_back({"every hazard, then a diagnostic", {"reboot", "x"}, opts("user", {}, hazard_environment()), 1,
                     parse, {}, {}});

    RunOptions odd_argv0 = opts("user");
    odd_argv0.argv0 = "\xc3\x28\xff";
    cases.push_back({"non-UTF-8 argv[0]", {"\xfe"}, odd_argv0, 1, top_usage("\xc3\x28\xff"), {}, {}});
    cases.push_back({"non-UTF-8 applet name", {"reb\xc3\xb6ot", "0"}, opts("user"), 1, top_usage("app"), {}, {}});
    for (const char* delay : {"\xff", "5\xff", "\xc2\xa0" "5", "\xef\xbc\x95", "5\n", "\t", "0x10"})
        cases.push_back({std::string("odd delay ") + delay, {"reboot", delay}, opts("user"), 1, parse, {}, {}});

    for (const std::string user : {"user", ""}) {
        const std::string who = user.empty() ? " (root)" : " (set-user-ID)";
        for (int fd : {0, 1, 2}) {
            const std::string closed = "fd " + std::to_string(fd) + " closed" + who;
            const std::string err_if_open = fd == 2 ? "" : parse;
            cases.push_back({closed + ", tool", {"reboot", "0"}, opts(user, {fd}), 0, "", {"reboot"}, {}});
            cases.push_back({closed + ", diagnostic", {"reboot", "x"}, opts(user, {fd}), 1, err_if_open, {}, {}});
            cases.push_back({closed + ", usage", {"nosuch"}, opts(user, {fd}), 1, fd == 2 ? "" : top_usage("app"), {}, {}});
        }
        cases.push_back({"fds 0-2 closed" + who, {"reboot", "0"}, opts(user, {0, 1, 2}), 0, "", {"reboot"}, {}});
    }
    return cases;
}

std::vector<Case> applet_cases() {
    const std::string big(128 * 1024 - 1, 'n');
    const std::string dir = "/sys/class/leds/backlight/";
    const std::string trigger = dir + "trigger";
    const std::string led_usage =
        "usage: app led {backlight|beeper|lightpipe} <trigger> [<param1> <value1> [...]]\n";
    const std::string service_usage =
        "usage: app service {start|stop|restart} <service>\nservices:\n  gen-certs\n  modem\n  nginx\n  ofono\n";
    const std::string no_fb = "app: ioctl: Inappropriate ioctl for device\n";  // the root has no framebuffer
    std::vector<Case> cases;

    // Attribute names the caller makes up: one component below the LED's
    // directory, and never a directory itself.
    struct Name {
        std::string name;
        int status;
        std::string err;
    };
    const Name names[] = {
        {"/", 1, "app: invalid parameter name: /\n"},
        {"../../../../etc/passwd", 1, "app: invalid parameter name: ../../../../etc/passwd\n"},
        {"brightness/", 1, "app: invalid parameter name: brightness/\n"},
        {"..", 2, "app: open " + dir + "..: Is a directory\n"},
        {".", 2, "app: open " + dir + ".: Is a directory\n"},
        {"", 2, "app: open " + dir + ": Is a directory\n"},
        {"nosuch", 2, "app: open " + dir + "nosuch: No such file or directory\n"},
        {"\xff\xfe", 2, "app: open " + dir + "\xff\xfe: No such file or directory\n"},
        {big, 2, "app: path too long\n"},
    };
    for (const Name& n : names)
        cases.push_back({"attribute name \"" + n.name.substr(0, 24) + "\"", {"led", "backlight", "timer", n.name, "1"},
                         opts("user"), n.status, n.err, {}, {{trigger, "timer"}}});
    for (const char* led : {"../leds/backlight", "backlight/", "backlight/..", "", ".", "\xff"})
        cases.push_back({std::string("LED name ") + led, {"led", led, "timer"}, opts("user"), 1, led_usage, {}, {}});
    cases.push_back({"non-UTF-8 and 128 KiB values", {"led", "beeper", "\xff\xfe", "brightness", big},
                     opts("user"), 0, "", {}, {{"/sys/class/leds/beeper/trigger", "\xff\xfe"},
                                                {"/sys/class/leds/beeper/brightness", big}}});

    cases.push_back({"service script from the caller's PATH", {"service", "start", "nginx"},
                     opts("user", {}, hazard_environment()), 0, "", {"S50nginx"}, {}});
    for (const char* name : {"../../tmp/hostile/bin/sh", "/etc/init.d/S50nginx", "S50nginx", "nginx\xff", ""})
        cases.push_back({std::string("service name ") + name, {"service", "restart", name}, opts("user"), 1,
                         service_usage, {}, {}});

    cases.push_back({"time: 128 KiB of nines", {"time", std::string(big.size(), '9'), "0"}, opts("user"), 2,
                     "app: failed to set time: Invalid argument\n", {}, {}});
    cases.push_back({"time: non-UTF-8 seconds", {"time", "\xff", "0"}, opts("user"), 1,
                     "app: cannot parse seconds parameter\n", {}, {}});
    cases.push_back({"time: every hazard", {"time", "1", "1000000000"}, opts("user", {}, hazard_environment()), 1,
                     "app: nanosecond value out of range\n", {}, {}});

    cases.push_back({"doom: every hazard", {"doom", "1"}, opts("user", {}, hazard_environment()), 0, no_fb, {}, {}});
    cases.push_back({"doom: non-UTF-8 seconds", {"doom", "\xff"}, opts("user"), 1, "usage: app doom [seconds]\n", {}, {}});

    // The supervisor, started by anyone: the preparation tool sees only the
    // fixed environment; with nothing configured it ends at once.
    const std::string no_children = "app: no more children, exiting\n";
    RunOptions supervisor_path = opts("user", {}, hazard_environment());
    supervisor_path.argv0 = "/app/bin/app";
    cases.push_back({"supervisor: every hazard", {}, supervisor_path, 0, no_children, {"unlock-datafs"}, {}});
    cases.push_back({"watchdog: every hazard", {"watchdog", "\xff"}, opts("user", {}, hazard_environment()), 0,
                     no_children, {"unlock-datafs"}, {}});

    // A file the app opens must never become one of the caller's standard streams.
    for (const std::string user : {"user", ""}) {
        const std::string who = user.empty() ? " (root)" : " (set-user-ID)";
        for (int fd : {0, 1, 2}) {
            const std::string closed = "fd " + std::to_string(fd) + " closed" + who;
            cases.push_back({closed + ", led", {"led", "lightpipe", "heartbeat", "delay_on", "100"}, opts(user, {fd}), 0,
                             "", {}, {{"/sys/class/leds/lightpipe/trigger", "heartbeat"},
                                      {"/sys/class/leds/lightpipe/delay_on", "100"}}});
            cases.push_back({closed + ", led diagnostic", {"led", "backlight", "none", "x/y", "1"}, opts(user, {fd}), 1,
                             fd == 2 ? "" : "app: invalid parameter name: x/y\n", {}, {{trigger, "none"}}});
            cases.push_back({closed + ", service", {"service", "stop", "modem"}, opts(user, {fd}), 0, "",
                             {"S38modem"}, {}});
            cases.push_back({closed + ", doom", {"doom", "1"}, opts(user, {fd}), 0, fd == 2 ? "" : no_fb, {}, {}});
            cases.push_back({closed + ", watchdog", {"watchdog"}, opts(user, {fd}), 0, fd == 2 ? "" : no_children,
                             {"unlock-datafs"}, {}});
        }
    }
    return cases;
}

// The dynamic loader needs one descriptor beyond 0-2; below that it refuses
// to start the program (127), and in a set-user-ID start with a standard
// descriptor closed the C library halts it (SIGSEGV) before anything runs.
std::vector<Case> limit_cases() {
    std::vector<Case> cases;
    for (const std::string user : {"user", ""}) {
        const std::string who = user.empty() ? " (root)" : " (set-user-ID)";
        cases.push_back({"nofile 0" + who, {"reboot", "0"}, opts(user, {}, {}, {"nofile=0"}), 127, ANY, {}, {}});
        cases.push_back({"nofile 3" + who, {"reboot", "0"}, opts(user, {}, {}, {"nofile=3"}), 127, ANY, {}, {}});
        cases.push_back({"nofile 4" + who, {"reboot", "0"}, opts(user, {}, {}, {"nofile=4"}), 0, "", {"reboot"}, {}});
        // Root's start gets as far as the tool, which cannot load under the limit either.
        cases.push_back({"nofile 3, fd 2 closed" + who, {"reboot", "0"}, opts(user, {2}, {}, {"nofile=3"}),
                         user.empty() ? 0 : 127, user.empty() ? "" : ANY, {}, {}});
        cases.push_back({"nproc 0" + who, {"poweroff", "0"}, opts(user, {}, {}, {"nproc=0"}), 0, "", {"poweroff"}, {}});
        cases.push_back({"nproc 0, nofile 4" + who, {"reboot", "3601"}, opts(user, {}, {}, {"nproc=0", "nofile=4"}), 1,
                         "app: seconds outside of [0, 3600] interval\n", {}, {}});
    }
    cases.push_back({"nofile 4, led", {"led", "beeper", "none", "brightness", "0"}, opts("user", {}, {}, {"nofile=4"}),
                     0, "", {}, {{"/sys/class/leds/beeper/trigger", "none"}, {"/sys/class/leds/beeper/brightness", "0"}}});
    cases.push_back({"nofile 3, fd 2 closed, led", {"led", "beeper", "none"}, opts("user", {2}, {}, {"nofile=3"}),
                     127, ANY, {}, {}});
    cases.push_back({"nproc 0, doom", {"doom", "1"}, opts("user", {}, {}, {"nproc=0"}), 0,
                     "app: ioctl: Inappropriate ioctl for device\n", {}, {}});
    cases.push_back({"nofile 0, fd 0 closed (set-user-ID)", {"reboot", "0"}, opts("user", {0}, {}, {"nofile=0"}),
                     128 + SIGSEGV, ANY, {}, {}});
    cases.push_back({"nofile 0, fd 0 closed (root)", {"reboot", "0"}, opts("", {0}, {}, {"nofile=0"}), 127, ANY, {}, {}});
    return cases;
}

void run_table(const std::vector<Case>& cases) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    plant_look_alikes(root);
    for (const Case& c : cases) run_case(root, c);
    std::printf("hostile invocations tried: %d\n", invocations);
}

TEST(Hostile, EntryAndPowerApplets) { run_table(entry_cases()); }

TEST(Hostile, Applets) { run_table(applet_cases()); }

TEST(Hostile, ResourceLimitsAtTheirMinimum) {
#if APP_SANITIZED
    GTEST_SKIP() << "the sanitizer runtime needs descriptors and processes of its own before main";
#endif
    run_table(limit_cases());
}

}  // namespace
