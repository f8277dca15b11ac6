// Failures no caller can provoke from outside, made to happen in the real,
// installed app: a system call fails under strace's fault injection, a C
// library call under a preloaded library (tests/harness/fault_preload.c).
// One row per failure: the command, the call and how it fails, the
// diagnostic and status, and what must or must not have happened.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "device_root.h"

// Rows name only the fields they need; the others keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using devroot::DeviceRoot;
using devroot::RunOptions;
using Strings = std::vector<std::string>;
// What must (or must not) have happened, beyond status, stderr and the tools that started.
using Check = std::function<void(const DeviceRoot&, const devroot::RunResult&)>;

struct Fault {
    std::string label;
    Strings args;              // after the program; none: the supervisor
    std::string call;          // the system call, or C library function, to fail
    std::string how;           // strace's "error=EIO" or "retval=0"; "preload N": the Nth call fails
    std::string at;            // fail the first call whose trace begins so; "": the first of all
    std::string path;          // count only calls on this path (strace -P)
    std::string also;          // another call failed from the first, strace's "CALL:error=E"
    std::string user;          // "": root; "user": the unprivileged caller
    std::vector<int> closed;   // descriptors the caller leaves closed
    int status = 0;
    std::string err;
    Strings tools;             // stand-ins that start, in order
    std::function<void(const DeviceRoot&)> setup = [](const DeviceRoot&) {};
    Check check = [](const DeviceRoot&, const devroot::RunResult&) {};
    bool setuid_install = true;
    bool screen = false;       // the game gets a screen
    std::string beside;        // shell text run as root, untraced, while the app runs
    Strings strace;            // further strace options
};

const std::string PRELOAD_INSIDE = "/lib/fault_preload.so";

bool preloaded(const Fault& f) { return f.how.rfind("preload ", 0) == 0; }

// The app by a name other than the supervisor's: a link in /usr/bin.
std::string program(const Fault& f) { return f.args.empty() ? "/app/bin/app" : "/usr/bin/app"; }

void lay_out(const DeviceRoot& root, const Fault& f) {
    std::filesystem::create_symlink("/app/bin/app", root.host_path("/.devroot/usr-upper/bin/app"));
    if (f.screen) devroot::give_screen(root, "800 480");
    if (preloaded(f)) {
        const std::string inside = root.host_path("/.devroot/usr-upper" + PRELOAD_INSIDE);
        std::filesystem::create_directories(std::filesystem::path(inside).parent_path());
        std::filesystem::copy_file(FAULT_PRELOAD, inside);
        root.write("/etc/standin/fault", f.call + " " + f.how.substr(8));
    }
    f.setup(root);
}

// Under strace as root, which starts the app as `f.user` (honouring the
// set-user-ID bit): traced to /records/calls, or with the `when`th call failed.
devroot::RunResult run_traced(const DeviceRoot& root, const Fault& f, int when) {
    // strace fails only calls it traces.
    const std::string traced = f.call + (f.also.empty() ? "" : "," + f.also.substr(0, f.also.find(':')));
    Strings argv{"/usr/bin/strace", "-f", "-qq", "-o", when ? "/dev/null" : "/records/calls", "-e", "trace=" + traced};
    if (!f.path.empty()) argv.insert(argv.end(), {"-P", f.path});
    if (when) {
        std::string how = f.how.find("when=") == std::string::npos ? f.how + ":when=" + std::to_string(when) : f.how;
        argv.insert(argv.end(), {"-e", "inject=" + f.call + ":" + how});
        if (!f.also.empty()) argv.insert(argv.end(), {"-e", "inject=" + f.also});
    }
    argv.insert(argv.end(), f.strace.begin(), f.strace.end());
    if (!f.user.empty()) argv.insert(argv.end(), {"-u", f.user});
    if (f.screen) argv.insert(argv.end(), {"-E", devroot::screen_env()});
    argv.push_back(program(f));
    argv.insert(argv.end(), f.args.begin(), f.args.end());
    // Orphaned at once, so that neither strace nor the app has it as a child.
    if (!f.beside.empty())
        argv.insert(argv.begin(), {"/bin/bash", "-c",
                                   "( (" + f.beside + ") </dev/null >/dev/null 2>&1 & ); exec \"$@\"", "bash"});
    RunOptions o;
    o.close_fds = f.closed;
    o.linger = 3;
    o.timeout = 60;
    return root.run_command(argv, o);
}

// Which of its process's calls of `f.call` the one to fail is, counted as
// strace counts them: a dry run traces them all.
int ordinal(const Fault& f) {
    if (f.at.empty()) return 1;
    DeviceRoot root(f.setuid_install);
    lay_out(root, f);
    run_traced(root, f, 0);
    std::map<std::string, int> calls;  // per process
    std::ifstream trace(root.host_path("/records/calls"));
    for (std::string line; std::getline(trace, line);) {
        std::size_t text = line.find_first_not_of(' ', line.find(' '));
        if (text == std::string::npos || line.compare(text, f.call.size() + 1, f.call + "(") != 0) continue;
        int n = ++calls[line.substr(0, line.find(' '))];
        if (line.compare(text, f.at.size(), f.at) == 0) return n;
    }
    ADD_FAILURE() << f.label << ": no call " << f.at;
    return 1;
}

devroot::RunResult run(const DeviceRoot& root, const Fault& f) {
    if (!preloaded(f)) return run_traced(root, f, ordinal(f));
    RunOptions o;
    o.user = f.user;
    o.argv0 = f.args.empty() ? "/app/bin/app" : "app";
    o.close_fds = f.closed;
    o.env = {"LD_PRELOAD=" + std::string(f.screen ? "libfb_preload.so " : "") + PRELOAD_INSIDE};
    o.linger = 3;
    o.timeout = 60;
    return root.run(f.args, o);
}

void run_table(const std::vector<Fault>& faults) {
    REQUIRE_ROOT();
    SKIP_IF_EMULATED("strace cannot trace the app through the user-mode emulator");
    if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
    for (const Fault& f : faults) {
        DeviceRoot root(f.setuid_install);
        lay_out(root, f);
        auto r = run(root, f);
        EXPECT_EQ(r.status, f.status) << f.label << ": " << r.err;
        EXPECT_EQ(r.err, f.err) << f.label;
        Strings started;
        for (const devroot::Record& record : root.records())
            if (record.get("event") == "start") started.push_back(record.get("tool"));
        EXPECT_EQ(started, f.tools) << f.label;
        f.check(root, r);
    }
}

// Every program of the supervisor's: a copy of the stand-in in /data.
void configure(const DeviceRoot& root, const std::string& config, const Strings& programs = {}) {
    for (const std::string& name : programs)
        std::filesystem::copy_file(root.host_path("/etc/init.d/S38modem"), root.host_path("/data/" + name));
    root.write("/app/share/tavix/watchdog.conf", config);
}

Check recorded(const std::string& tool, const std::string& key, const std::string& value) {
    return [=](const DeviceRoot& root, const devroot::RunResult&) {
        auto runs = root.records_of(tool);
        ASSERT_FALSE(runs.empty()) << tool;
        EXPECT_EQ(runs[0].get(key), value) << tool << " " << key;
    };
}

// The tool started `ms` or more (or less) after the run began.
Check tool_after(const std::string& tool, long ms, bool after = true) {
    return [=](const DeviceRoot& root, const devroot::RunResult& r) {
        auto runs = root.records_of(tool);
        ASSERT_FALSE(runs.empty()) << tool;
        EXPECT_EQ(runs[0].number("time_ms") - r.started_ms >= ms, after) << tool;
    };
}
Check tool_before(const std::string& tool, long ms) {
    return tool_after(tool, ms, false);
}

const std::string ENOMEM_TEXT = "Cannot allocate memory";

// Beside a supervisor running programs a and b (both the stand-in "s", told
// apart by their argument): once both have started, the namespace's next
// process gets a's number.
const std::string NEXT_PROCESS_GETS_AS_NUMBER = R"sh(
    for i in $(seq 100); do [ "$(grep -c $'^tool=s\tevent=start' /records/log)" = 2 ] && break; sleep 0.05; done
    a=$(sed -n 's/^tool=s\tevent=start\t.*\tpid=\([0-9]*\)\t.*\targv=one\t.*/\1/p' /records/log)
    echo $((a - 1)) > /proc/sys/kernel/ns_last_pid)sh";

// b's restart, the third run of "s", got the number a's first run had.
void b_got_as_number(const DeviceRoot& root, const devroot::RunResult&) {
    auto runs = root.records_of("s");
    ASSERT_EQ(runs.size(), 3u);
    const devroot::Record& a = runs[0].all("argv").at(1) == "one" ? runs[0] : runs[1];
    EXPECT_EQ(runs[2].all("argv"), (Strings{"/data/s", "two"}));
    EXPECT_EQ(runs[2].get("pid"), a.get("pid")) << "the number was not reused: the row proves nothing";
}

TEST(Fault, EntryAndSupervisor) {
    const std::string no_children = "app: no more children, exiting\n";
    run_table({
        // Standard descriptors are filled before anything can report a failure.
        {.label = "a closed standard descriptor cannot be filled", .args = {"reboot", "x"}, .call = "openat",
         .how = "error=EMFILE", .path = "/dev/null", .user = "user", .closed = {0}, .status = 2},
        {.label = "the environment cannot be cleared", .args = {"reboot", "0"}, .call = "clearenv",
         .how = "preload 1", .status = 2, .err = "app: clearenv\n"},
        {.label = "PATH cannot be set", .args = {"reboot", "0"}, .call = "setenv", .how = "preload 1",
         .status = 2, .err = "app: setenv: " + ENOMEM_TEXT + "\n"},
        {.label = "no process for the preparation tool", .call = "clone", .how = "error=EAGAIN", .status = 2,
         .err = "app: fork /usr/bin/unlock-datafs failed: Resource temporarily unavailable\n"},
        {.label = "waiting for the preparation tool fails", .call = "wait4", .how = "error=ECHILD", .status = 2,
         .err = "app: wait on /usr/bin/unlock-datafs: No child processes\n", .tools = {"unlock-datafs"}},
        {.label = "the user id cannot become app's", .call = "setuid", .how = "error=EPERM", .status = 2,
         .err = "app: setuid: Operation not permitted\n", .tools = {"unlock-datafs"}},
        {.label = "waiting for the programs fails", .call = "wait4", .how = "error=EINTR", .at = "wait4(-1,",
         .status = 2, .err = "app: waitpid: Interrupted system call\n", .tools = {"unlock-datafs"}},
        // A read error ends the list where it happened: b lies beyond the first read.
        {.label = "the configuration cannot be read to its end", .call = "read", .how = "error=EIO:when=2",
         .path = "/app/share/tavix/watchdog.conf", .status = 0,
         .err = "app: a missing, disabling\n" + no_children, .tools = {"unlock-datafs"},
         .setup = [](const DeviceRoot& r) { configure(r, "a /data/a\n#" + std::string(5000, '-') + "\nb /data/b\n"); }},
        {.label = "memory runs out while reading the configuration", .call = "getline", .how = "preload 2",
         .status = 128 + 6, .err = "app: out of memory\n", .tools = {"unlock-datafs"},
         .setup = [](const DeviceRoot& r) { configure(r, "a /data/a\nb /data/b\n"); }},
        {.label = "memory runs out for a program's name", .call = "malloc", .how = "preload 1000000",
         .status = 128 + 6, .err = "app: out of memory\n", .tools = {"unlock-datafs"},
         .setup = [](const DeviceRoot& r) { configure(r, std::string(2000000, 'n') + " /data/a\n"); }},
        {.label = "a program cannot ask for the parent-death signal", .call = "prctl", .how = "error=EINVAL",
         .status = 0,
         .err = "app: prctl: Invalid argument\napp: once exited(0), restarting\napp: once missing, disabling\n" +
                no_children,
         .tools = {"unlock-datafs", "once"},
         .setup =
             [](const DeviceRoot& r) {
                 configure(r, "once /data/once\n", {"once"});
                 r.control("once", "remove-after 1\n");
             },
         .check = recorded("once", "pdeathsig", "0")},
        // A program whose restart cannot be forked keeps no number: the later
        // child that gets it (b's restart) ends as b. The first poll waits 2 s,
        // so that both have ended by then.
        {.label = "a program's restart cannot be forked, its number goes to another", .call = "clone",
         .how = "error=EAGAIN:when=4", .status = 0,
         .err = "app: a exited(0), restarting\napp: fork a failed: Resource temporarily unavailable\n"
                "app: b exited(0), restarting\napp: b exited(0), restarting\napp: b missing, disabling\n" +
                no_children,
         .tools = {"unlock-datafs", "s", "s", "s"},
         .setup =
             [](const DeviceRoot& r) {
                 configure(r, "a /data/s one\nb /data/s two\n", {"s"});
                 r.control("s", "remove-after 3\n");
             },
         .check = b_got_as_number, .beside = NEXT_PROCESS_GETS_AS_NUMBER,
         .strace = {"-e", "trace=clone,wait4", "-e", "inject=wait4:delay_enter=2000000:when=2"}},
    });
}

TEST(Fault, Applets) {
    run_table({
        {.label = "led: an attribute cannot be closed", .args = {"led", "beeper", "none"}, .call = "close",
         .how = "error=EIO", .path = "/sys/class/leds/beeper/trigger", .user = "user", .status = 2,
         .err = "app: close: Input/output error\n",
         .check = [](const DeviceRoot& r, auto&) { EXPECT_EQ(r.read("/sys/class/leds/beeper/trigger"), "none"); }},
        {.label = "reboot: no process to wait in", .args = {"reboot", "0"}, .call = "clone", .how = "error=EAGAIN",
         .user = "user", .status = 2, .err = "app: fork: Resource temporarily unavailable\n"},
        {.label = "reboot: an interrupted wait goes on", .args = {"reboot", "1"}, .call = "clock_nanosleep",
         .how = "error=EINTR", .user = "user", .status = 0, .tools = {"reboot"}, .check = tool_after("reboot", 1000)},
        {.label = "reboot: a wait that fails otherwise ends", .args = {"reboot", "1"}, .call = "clock_nanosleep",
         .how = "error=EINVAL", .user = "user", .status = 0, .tools = {"reboot"}, .check = tool_before("reboot", 1000)},
        // The clock call only pretends (and could not set it): the value passed every check.
        {.label = "time: the largest nanosecond value", .args = {"time", "1", "999999999"}, .call = "clock_settime",
         .how = "retval=0", .user = "user", .status = 2, .err = "app: setuid: Operation not permitted\n",
         .setuid_install = false},
        {.label = "doom: no process for the game", .args = {"doom", "1"}, .call = "clone", .how = "error=EAGAIN",
         .status = 2, .err = "app: fork: Resource temporarily unavailable\n"},
        {.label = "doom: the game cannot ask for the parent-death signal", .args = {"doom", "1"}, .call = "prctl",
         .how = "error=EINVAL", .at = "prctl(PR_SET_PDEATHSIG", .status = 0, .err = "app: prctl: Invalid argument\n", .tools = {"prboom"},
         .setup = [](const DeviceRoot& r) { r.control("prboom", "exit 0\n"); },  // nothing would end it
         .check = recorded("prboom", "pdeathsig", "0"), .screen = true},
        {.label = "doom: the game's environment cannot be set", .args = {"doom", "1"}, .call = "setenv",
         .how = "preload 2", .status = 0, .err = "app: setenv: " + ENOMEM_TEXT + "\n", .screen = true},
        {.label = "doom: SDL_NOMOUSE cannot be set", .args = {"doom", "1"}, .call = "setenv", .how = "preload 3",
         .status = 0, .err = "app: setenv: " + ENOMEM_TEXT + "\n", .screen = true},
        // The caller has gone by the time the game's process asks to be tied to it.
        {.label = "doom: the caller is gone before the game starts", .args = {"doom", "0"}, .call = "prctl",
         .how = "delay_exit=1000000", .at = "prctl(PR_SET_PDEATHSIG", .status = 0, .screen = true},
        {.label = "doom: the framebuffer cannot be closed", .args = {"doom", "1"}, .call = "close",
         .how = "error=EIO", .path = "/dev/fb0", .status = 0, .err = "app: close: Input/output error\n",
         .screen = true},
    });
}

// Each step of starting a tool as root, failing: the tool never runs. Where
// the kernel lacks a call (ENOSYS) that has a fallback, the tool still runs.
TEST(Fault, ToolsRunAsRoot) {
    struct Step {
        std::string call, at, message;
        std::string how = "error=EPERM";
    };
    const Step steps[] = {
        {"clone", "", "fork", "error=EAGAIN"},
        {"setgroups", "", "setgroups"},
        {"setgid", "", "setgid"},
        {"setsid", "", "setsid"},
        {"prlimit64", "prlimit64(1,", "prlimit"},
        {"prlimit64", "prlimit64(0, RLIMIT_CPU, {", "setrlimit"},
        {"sched_setattr", "", "sched_setattr"},
        {"ioprio_set", "", "ioprio_set"},
        {"sched_getaffinity", "sched_getaffinity(1,", "sched_getaffinity"},
        {"sched_setaffinity", "", "sched_setaffinity"},
        {"personality", "", "personality", "error=EINVAL"},
        {"prctl", "prctl(PR_SET_TIMERSLACK", "prctl PR_SET_TIMERSLACK", "error=EINVAL"},
        {"prctl", "prctl(PR_SET_THP_DISABLE", "prctl PR_SET_THP_DISABLE"},
        {"prctl", "prctl(PR_MCE_KILL", "prctl PR_MCE_KILL"},
        {"keyctl", "keyctl(KEYCTL_SET_REQKEY_KEYRING", "keyctl", "error=EDQUOT"},
        {"set_mempolicy", "", "set_mempolicy"},
        {"openat", "openat(AT_FDCWD, \"/proc/1/oom_score_adj\"", "/proc/1/oom_score_adj"},
        {"openat", "openat(AT_FDCWD, \"/proc/self/coredump_filter\"", "/proc/self/coredump_filter"},
        {"keyctl", "", "keyctl", "error=EDQUOT"},
        {"setitimer", "", "setitimer", "error=EINVAL"},
        {"chdir", "chdir(\"/\")", "chdir"},
        {"wait4", "", "waitpid", "error=EINVAL"},
    };
    std::vector<Fault> faults;
    for (const Step& s : steps) {
        const std::string text = s.how == "error=EPERM"    ? "Operation not permitted"
                                 : s.how == "error=EINVAL" ? "Invalid argument"
                                 : s.how == "error=EAGAIN" ? "Resource temporarily unavailable"
                                                           : "Disk quota exceeded";
        faults.push_back({.label = s.message, .args = {"service", "start", "nginx"}, .call = s.call, .how = s.how,
                          .at = s.at, .user = "user", .status = 2, .err = "app: " + s.message + ": " + text + "\n",
                          // Waiting fails only once the script has run.
                          .tools = s.call == "wait4" ? Strings{"S50nginx"} : Strings{}});
    }
    for (const std::string call : {"sched_setattr", "keyctl", "set_mempolicy"})
        faults.push_back({.label = call + " missing from the kernel", .args = {"service", "start", "nginx"},
                          .call = call, .how = "error=ENOSYS", .user = "user", .status = 0, .tools = {"S50nginx"},
                          .check = recorded("S50nginx", "policy", "0")});
    for (const std::string call : {"sched_setscheduler", "setpriority"})
        faults.push_back({.label = call + " after sched_setattr", .args = {"service", "start", "nginx"},
                          .call = "sched_setattr", .how = "error=ENOSYS", .also = call + ":error=EPERM",
                          .user = "user", .status = 2, .err = "app: " + call + ": Operation not permitted\n"});
    run_table(faults);
}

}  // namespace
