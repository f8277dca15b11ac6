// Hostile callers: what an unprivileged program can do to the set-user-ID
// binary, one row per invocation. Every row ends in a clear diagnostic with
// its status, or in the normal result; hostile.h says what is checked after it.
#include "hostile.h"

#include <csignal>

namespace {

using devroot::RunOptions;
using hostile::ANY;
using hostile::Case;
using hostile::hazard_environment;
using hostile::opts;
using hostile::run_table;
using hostile::top_usage;

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
    RunOptions realtime = opts("user");
    realtime.ignored = realtime.blocked = {SIGRTMIN + 1, SIGRTMAX};
    cases.push_back({"real-time signals ignored and blocked, service", {"service", "start", "modem"}, realtime, 0, "",
                     {"S38modem"}, {}});
    cases.push_back({"real-time signals ignored and blocked, reboot", {"reboot", "0"}, realtime, 0, "", {"reboot"}, {}});
    cases.push_back({"real-time signals ignored and blocked, poweroff", {"poweroff", "0"}, realtime, 0, "",
                     {"poweroff"}, {}});

    cases.push_back({"time: 128 KiB of nines", {"time", std::string(big.size(), '9'), "0"}, opts("user"), 2,
                     "app: failed to set time: Invalid argument\n", {}, {}});
    cases.push_back({"time: non-UTF-8 seconds", {"time", "\xff", "0"}, opts("user"), 1,
                     "app: cannot parse seconds parameter\n", {}, {}});
    cases.push_back({"time: every hazard", {"time", "1", "1000000000"}, opts("user", {}, hazard_environment()), 1,
                     "app: nanosecond value out of range\n", {}, {}});

    cases.push_back({"doom: every hazard", {"doom", "1"}, opts("user", {}, hazard_environment()), 0, no_fb, {}, {}});
    cases.push_back({"doom: non-UTF-8 seconds", {"doom", "\xff"}, opts("user"), 1, "usage: app doom [seconds]\n", {}, {}});

    // The supervisor runs for root alone: anyone else is refused before
    // anything runs.
    const std::string no_children = "app: no more children, exiting\n";
    const std::string not_root = "app: setuid: Operation not permitted\n";
    RunOptions supervisor_path = opts("user", {}, hazard_environment());
    supervisor_path.argv0 = "/app/bin/app";
    cases.push_back({"supervisor: every hazard", {}, supervisor_path, 2, not_root, {}, {}});
    cases.push_back({"watchdog: every hazard", {"watchdog", "\xff"}, opts("user", {}, hazard_environment()), 2,
                     not_root, {}, {}});

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
            if (user.empty())
                cases.push_back({closed + ", watchdog", {"watchdog"}, opts(user, {fd}), 0, fd == 2 ? "" : no_children,
                                 {"unlock-datafs"}, {}});
            else
                cases.push_back({closed + ", watchdog", {"watchdog"}, opts(user, {fd}), 2, fd == 2 ? "" : not_root,
                                 {}, {}});
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
        // Root's start gets as far as the tool, which runs with init's limits.
        cases.push_back({"nofile 3, fd 2 closed" + who, {"reboot", "0"}, opts(user, {2}, {}, {"nofile=3"}),
                         user.empty() ? 0 : 127, user.empty() ? "" : ANY,
                         user.empty() ? std::vector<std::string>{"reboot"} : std::vector<std::string>{}, {}});
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

TEST(Hostile, EntryAndPowerApplets) { run_table(entry_cases()); }

TEST(Hostile, Applets) { run_table(applet_cases()); }

// The rows whose start the loader or the C library refuses (status 127,
// SIGSEGV), or the rest: under a user-mode emulator the emulator meets those
// limits first and fails its own way, so the refused rows observe nothing of
// the app there.
std::vector<Case> limit_cases(bool start_refused) {
    std::vector<Case> cases;
    for (const Case& c : limit_cases())
        if ((c.status == 127 || c.status == 128 + SIGSEGV) == start_refused) cases.push_back(c);
    return cases;
}

TEST(Hostile, ResourceLimitsAtTheirMinimum) {
#if APP_SANITIZED
    GTEST_SKIP() << "the sanitizer runtime needs descriptors and processes of its own before main";
#endif
    run_table(limit_cases(false));
}

TEST(Hostile, DescriptorsTooFewToStart) {
#if APP_SANITIZED
    GTEST_SKIP() << "the sanitizer runtime needs descriptors and processes of its own before main";
#endif
    SKIP_IF_EMULATED("the emulator needs descriptors of its own and stops before the app's loader runs");
    run_table(limit_cases(true));
}

}  // namespace
