// Test side of the throwaway device root (device-root): lay one out,
// run the installed app in it, read what the stand-ins recorded.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

// Black-box tests need namespaces, mounts and pivot_root.
#define REQUIRE_ROOT()                                                                     \
    do {                                                                                   \
        if (geteuid() != 0) GTEST_SKIP() << "needs root: runs the app in a device root"; \
    } while (0)

// Under a user-mode emulator some things cannot hold (no empty argument
// vector, for one): such tests skip there and say why.
#define SKIP_IF_EMULATED(reason)                                                      \
    do {                                                                              \
        if (devroot::emulated()) GTEST_SKIP() << "under emulation: " << (reason);     \
    } while (0)

namespace devroot {

// The supervisor's list of programs on the device.
inline const std::string CONFIG_FILE = "/app/share/tavix/watchdog.conf";

// One stand-in run (event "start") or its death by SIGTERM (event "signal").
struct Record {
    std::vector<std::pair<std::string, std::string>> fields;

    std::string get(std::string_view key) const;  // first value, or ""
    std::vector<std::string> all(std::string_view key) const;
    long number(std::string_view key) const { return std::stol(get(key)); }
    // The user ids (real, effective, saved, file system), group ids and
    // groups the kernel keeps: "0 0 0 0/27 27 27 27/27 44".
    std::string ids() const;
    // The signals it ignores and blocks, as masks: "IGNORED BLOCKED".
    std::string signals() const { return get("k.status.SigIgn") + " " + get("k.status.SigBlk"); }
};

struct RunOptions {
    std::string argv0 = "app";      // how the caller names the program
    bool no_argv = false;           // start with an empty argument vector
    std::string user;               // "" = root; "user" = the unprivileged caller; or "uid:gid:g1,g2"
    std::string cwd = "/";
    std::vector<std::string> env;   // the caller's environment, NAME=VALUE
    std::vector<int> close_fds;     // descriptors the caller leaves closed
    std::vector<int> ignored;       // signals the caller ignores
    std::vector<int> blocked;       // signals the caller blocks
    std::vector<std::string> rlimits;  // "nofile=3": soft limit the caller sets
    double timeout = 0;             // then send `signal` to the app
    int signal = 9;
    double linger = 0;              // how long to wait for background processes (the logger and reader aside)
    bool syslog = false;            // a real system logger on /dev/log, writing /records/syslog; implies kmsg
    bool rsyslog = false;           // that logger is Debian's rsyslogd (rsyslog_available()), which also
                                    // keeps each line's sender (log_credentials()); implies syslog
    bool kmsg = false;              // the root's /dev/kmsg is read (kmsg_lines()); unread, it refuses writers
    bool stdin_pipe = false;        // stdin is a pipe holding stdin_text, then end of file
    std::string stdin_text;
    int streams = -1;               // when set: this descriptor is fds 0-2 (a terminal, say)
    bool session = false;           // started as a service manager starts a service (root, reference)
    bool hostile = false;           // the caller first sets on itself all it can that survives exec
    bool cgroup2 = false;           // the run has a cgroup v2 hierarchy of its own (cgroup2_available())
    std::string delegate;           // the caller starts in this cgroup of it, delegated to it
};

struct RunResult {
    int status = -1;
    std::string out, err;
    long elapsed_ms = -1;  // the app's own run time
    long started_ms = -1;  // CLOCK_MONOTONIC as the app's start began, comparable with records' time_ms

    // How long after the app's start the stand-in made `record`.
    long since_start(const Record& record) const { return record.number("time_ms") - started_ms; }
};

struct DeviceRoot {
    std::string dir;     // the device's "/" (mode 0755)
    std::string parent;  // holds dir, mode 0700: the set-user-ID app is out of other users' reach

    explicit DeviceRoot(bool setuid = false);
    ~DeviceRoot();
    DeviceRoot(const DeviceRoot&) = delete;
    DeviceRoot& operator=(const DeviceRoot&) = delete;

    // Where a path of the device is on the host. The device's /usr is the
    // host's, read-only, under an overlay: its paths name the upper layer,
    // where the stand-ins are and what a test writes there goes.
    std::string host_path(std::string_view inside) const;
    void write(std::string_view inside, std::string_view content, mode_t mode = 0644) const;
    std::string read(std::string_view inside) const;
    bool exists(std::string_view inside) const;
    // What the stand-in named `tool` does when it runs (see standin.c).
    void control(std::string_view tool, std::string_view text) const;
    // Copies the host's file `from` to `inside`, root's, with `mode`.
    void install(const std::string& from, std::string_view inside, mode_t mode) const;
    // A stand-in at `inside` (a supervised program, say), root's, with `mode`.
    void standin(std::string_view inside, mode_t mode = 0755) const;
    // The supervisor's list of programs, and a stand-in in /data for each of `programs`.
    void configure(std::string_view config, const std::vector<std::string>& programs = {}) const;

    // Runs /app/bin/app with `args` after argv[0].
    RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const;
    // Runs any program of the root: argv[0] is its path (options.argv0 ignored).
    RunResult run_command(const std::vector<std::string>& argv, RunOptions options) const;

    std::vector<Record> records() const;
    // What the app sent the system logger: "FACILITY.LEVEL TEXT" a line, with
    // its pid shown as "app[N]", the caller's as "pid=N" and its audit
    // session as "ses=N".
    std::vector<std::string> log_lines() const;
    // What was written to the root's own kernel log (RunOptions::kmsg), up to
    // each newline (the app ends each write with one), "<PRI>app[N]: TEXT"
    // shown as log_lines() shows a line. A line of another shape stays as written.
    std::vector<std::string> kmsg_lines() const;
    // Each line the app sent rsyslog (RunOptions::rsyslog), with who sent it:
    // "line" as log_lines() shows it, "tag_pid" the pid its tag names, and
    // "pid", "uid" and "gid" the sender's credentials that the kernel put on
    // the datagram (its own, or those it claimed with SCM_CREDENTIALS and the
    // kernel let it claim), those numbers unmasked.
    std::vector<Record> log_credentials() const;
    std::vector<Record> records_of(std::string_view tool, std::string_view event = "start") const;
};

// The app binary under test: $APP_UNDER_TEST, else the one built with the tests.
std::string app_under_test();

// $APP_EMULATOR, when set, is the user-mode emulator that runs a foreign app
// binary, with its options: "qemu-arm -L /usr/arm-linux-gnueabihf". Every
// run of /app/bin/app then goes through it, with the app's set-user-ID bit.
bool emulated();
// Whether this machine has a cgroup v2 hierarchy, of which a run can have one
// cgroup as its own hierarchy (RunOptions::cgroup2).
bool cgroup2_available();
// Whether Debian's rsyslog is there for RunOptions::rsyslog: unpacked by
// tests/harness/fetch-rsyslog into build/rsyslog (or $DEVROOT_RSYSLOG).
bool rsyslog_available();
// Whether root here may raise hard resource limits (CAP_SYS_RESOURCE in the
// bounding set, which a container may lack).
bool root_lifts_limits();

// The device root has no screen: a library preloaded into the app answers the
// screen query with `resolution` ("800 480"); the game stand-in then runs
// until its signal. Available when that library is built for the app's machine.
bool screen_available();
void give_screen(const DeviceRoot& root, const std::string& resolution);
// The caller's environment entry that preloads that library.
std::string screen_env();

// Shell text that replaces the shell with the app named `argv0`, for tests
// that start the app from a shell inside the root: append its arguments.
std::string shell_exec_app(const std::string& argv0);

// A command (for run_command) that sets no_new_privs, then runs the app as
// "app" with `args`: the kernel ignores the set-user-ID bit, so every step
// that needs root fails.
std::vector<std::string> without_new_privileges(const std::vector<std::string>& args);

}  // namespace devroot
