// Failures no caller can provoke from outside, made to happen in the real,
// installed app: a system call fails under strace's fault injection, a C
// library call under a preloaded library (tests/harness/fault_preload.c).
// One row per failure: the command, the call and how it fails, the
// diagnostic and status, and what must or must not have happened.
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;


// The game gets a screen: its stand-in then runs until it is told to end.
void screen(const DeviceRoot& root) { give_screen(root, "800 480"); }
RunOptions screen_caller() { return {.env = {screen_env()}}; }

Check recorded(const std::string& tool, const std::string& key, const std::string& value) {
    return [=](const DeviceRoot& root, const RunResult&) {
        auto runs = root.records_of(tool);
        ASSERT_FALSE(runs.empty()) << tool;
        EXPECT_EQ(runs[0].get(key), value) << tool << " " << key;
    };
}

// The tool started `ms` or more (or less) after the app's start.
Check tool_after(const std::string& tool, long ms, bool after = true) {
    return [=](const DeviceRoot& root, const RunResult& r) {
        record_within(root, r, tool, after ? ms : 0, after ? 60000 : ms);
    };
}

// What the app sent the system logger, each line up to the caller's fields.
Check logged(const Strings& lines) {
    return [=](const DeviceRoot& root, const RunResult&) {
        Strings seen;
        for (const std::string& line : root.log_lines()) seen.push_back(line.substr(0, line.find(": uid=")));
        EXPECT_EQ(seen, lines);
    };
}

const std::string NO_MEMORY_TO_SET = said("setenv: Cannot allocate memory");

// Beside time, whose first line's process strace stops: as it is reported
// stopped, the caller (uid 1001) tries to kill it, then root continues it.
const std::string THE_CALLER_KILLS_WHAT_STOPS = R"sh(
    handled=" "
    for i in $(seq 1200); do
        for pid in $(sed -n 's/^\([0-9]*\) *--- stopped by SIGSTOP ---$/\1/p' /records/trace 2>/dev/null); do
            case $handled in *" $pid "*) continue ;; esac
            handled="$handled$pid "
            setpriv --reuid=1001 --regid=1001 --clear-groups kill -KILL "$pid"
            kill -CONT "$pid"
        done
        sleep 0.05
    done)sh";

// Beside a supervisor running programs a and b (both the stand-in "s", told
// apart by their argument): once both have started, the namespace's next
// process gets a's number.
const std::string NEXT_PROCESS_GETS_AS_NUMBER = R"sh(
    for i in $(seq 100); do [ "$(grep -c $'^tool=s\tevent=start' /records/log)" = 2 ] && break; sleep 0.05; done
    a=$(sed -n 's/^tool=s\tevent=start\t.*\tpid=\([0-9]*\)\t.*\targv=one\t.*/\1/p' /records/log)
    echo $((a - 1)) > /proc/sys/kernel/ns_last_pid)sh";

// b's restart, the third run of "s", got the number a's first run had.
void b_got_as_number(const DeviceRoot& root, const RunResult&) {
    auto runs = root.records_of("s");
    ASSERT_EQ(runs.size(), 3u);
    const Record& a = runs[0].all("argv").at(1) == "one" ? runs[0] : runs[1];
    EXPECT_EQ(runs[2].all("argv"), (Strings{"/data/s", "two"}));
    EXPECT_EQ(runs[2].get("pid"), a.get("pid")) << "the number was not reused: the row proves nothing";
}

TABLE(Fault, EntryAndSupervisor) {
    return {.rows = {
        // Standard descriptors are filled before anything can report a failure.
        {.label = "a closed standard descriptor cannot be filled", .args = {"reboot", "x"},
         .caller = {.user = "user", .close_fds = {0}}, .status = 2,
         .fault = {.call = "openat", .how = "error=EMFILE", .path = "/dev/null"}},
        {.label = "PATH cannot be set", .args = {"reboot", "0"}, .status = 2, .err = NO_MEMORY_TO_SET,
         .fault = {.call = "setenv", .how = "preload 1"}},
        {.label = "no process for the preparation tool", .status = 2,
         .err = said("fork /usr/bin/unlock-datafs failed: Resource temporarily unavailable"),
         .fault = {.call = "clone", .how = "error=EAGAIN"}},
        {.label = "waiting for the preparation tool fails", .status = 2,
         .err = said("wait on /usr/bin/unlock-datafs: No child processes"), .tools = {"unlock-datafs"},
         .fault = {.call = "wait4", .how = "error=ECHILD"}},
        {.label = "the user id cannot become app's", .status = 2, .err = NOT_ROOT, .tools = {"unlock-datafs"},
         .fault = {.call = "setuid", .how = "error=EPERM"}},
        {.label = "waiting for the programs fails", .status = 2, .err = said("waitpid: Interrupted system call"),
         .tools = {"unlock-datafs"}, .fault = {.call = "wait4", .how = "error=EINTR", .at = "wait4(-1,"}},
        // A read error ends the list where it happened: b lies beyond the first read.
        {.label = "the configuration cannot be read to its end", .err = said("a missing, disabling") + NO_CHILDREN,
         .tools = {"unlock-datafs"},
         .setup = [](const DeviceRoot& r) { r.configure("a /data/a\n#" + std::string(5000, '-') + "\nb /data/b\n"); },
         .fault = {.call = "read", .how = "error=EIO:when=2", .path = CONFIG_FILE}},
        {.label = "memory runs out while reading the configuration", .status = 128 + 6, .err = NO_MEMORY,
         .tools = {"unlock-datafs"}, .setup = [](const DeviceRoot& r) { r.configure("a /data/a\nb /data/b\n"); },
         // The caller's identity takes three lines first: loginuid's, sessionid's, passwd's.
         .fault = {.call = "getline", .how = "preload 4"}},
        {.label = "memory runs out for a program's name", .status = 128 + 6, .err = NO_MEMORY,
         .tools = {"unlock-datafs"},
         .setup = [](const DeviceRoot& r) { r.configure(std::string(2000000, 'n') + " /data/a\n"); },
         .fault = {.call = "malloc", .how = "preload 1000000"}},
        {.label = "a program cannot ask for the parent-death signal",
         .err = said("prctl: Invalid argument") + said("once exited(0), restarting") + said("once missing, disabling") +
                NO_CHILDREN,
         .tools = {"unlock-datafs", "once"},
         .setup =
             [](const DeviceRoot& r) {
                 r.configure("once /data/once\n", {"once"});
                 r.control("once", "remove-after 1\n");
             },
         .check = recorded("once", "k.prctl.pdeathsig", "0"), .fault = {.call = "prctl", .how = "error=EINVAL"}},
        // A program whose restart cannot be forked keeps no number: the later
        // child that gets it (b's restart) ends as b. The first poll waits 5 s,
        // so that both have ended by then, even where starting them takes
        // seconds (a loaded machine, a sanitized supervisor): the older, a,
        // is then reaped first.
        {.label = "a program's restart cannot be forked, its number goes to another",
         .err = said("a exited(0), restarting") + said("fork a failed: Resource temporarily unavailable") +
                said("b exited(0), restarting") + said("b exited(0), restarting") + said("b missing, disabling") +
                NO_CHILDREN,
         .tools = {"unlock-datafs", "s", "s", "s"},
         .setup =
             [](const DeviceRoot& r) {
                 r.configure("a /data/s one\nb /data/s two\n", {"s"});
                 r.control("s", "remove-after 3\n");
             },
         .check = b_got_as_number,
         .fault = {.call = "clone", .how = "error=EAGAIN:when=4",
                   .strace = {"-e", "trace=clone,wait4", "-e", "inject=wait4:delay_enter=5000000:when=2"},
                   .beside = NEXT_PROCESS_GETS_AS_NUMBER}},
    },
            .setuid = true};
}

TABLE(Fault, Applets) {
    return {.rows = {
        {.label = "led: an attribute cannot be closed", .args = {"led", "beeper", "none"}, .caller = AS_USER,
         .status = 2, .err = said("close: Input/output error"), .leds = {{"/sys/class/leds/beeper/trigger", "none"}},
         .fault = {.call = "close", .how = "error=EIO", .path = "/sys/class/leds/beeper/trigger"}},
        {.label = "reboot: no process to wait in", .args = {"reboot", "0"}, .caller = AS_USER, .status = 2,
         .err = said("fork: Resource temporarily unavailable"), .fault = {.call = "clone", .how = "error=EAGAIN"}},
        {.label = "reboot: an interrupted wait goes on", .args = {"reboot", "1"}, .caller = AS_USER,
         .tools = {"reboot"}, .check = tool_after("reboot", 1000),
         .fault = {.call = "clock_nanosleep", .how = "error=EINTR"}},
        {.label = "reboot: a wait that fails otherwise ends", .args = {"reboot", "1"}, .caller = AS_USER,
         .tools = {"reboot"}, .check = tool_after("reboot", 1000, false),
         .fault = {.call = "clock_nanosleep", .how = "error=EINVAL"}},
        {.label = "doom: no process for the game", .args = {"doom", "1"}, .status = 2,
         .err = said("fork: Resource temporarily unavailable"), .fault = {.call = "clone", .how = "error=EAGAIN"}},
        {.label = "doom: the game cannot ask for the parent-death signal", .args = {"doom", "1"},
         .caller = screen_caller(), .err = said("prctl: Invalid argument"), .tools = {"prboom"},
         .setup =
             [](const DeviceRoot& r) {
                 screen(r);
                 r.control("prboom", "exit 0\n");  // nothing would end it
             },
         .check = recorded("prboom", "k.prctl.pdeathsig", "0"),
         .fault = {.call = "prctl", .how = "error=EINVAL", .at = "prctl(PR_SET_PDEATHSIG"}},
        {.label = "doom: the game's environment cannot be set", .args = {"doom", "1"}, .caller = screen_caller(),
         .err = NO_MEMORY_TO_SET, .setup = screen, .fault = {.call = "setenv", .how = "preload 2"}},
        {.label = "doom: SDL_NOMOUSE cannot be set", .args = {"doom", "1"}, .caller = screen_caller(),
         .err = NO_MEMORY_TO_SET, .setup = screen, .fault = {.call = "setenv", .how = "preload 3"}},
        // The applet has gone by the time the game's process asks to be tied
        // to it. Its caller made itself a child subreaper: the game's new
        // parent is that caller, not process 1.
        {.label = "doom: the caller is gone before the game starts", .args = {"doom", "0"}, .caller = screen_caller(),
         .setup = screen,
         .fault = {.call = "prctl", .how = "delay_exit=1000000", .at = "prctl(PR_SET_PDEATHSIG",
                   .before = {"/usr/bin/perl", "-e",
                              "syscall(" + std::to_string(SYS_prctl) + ", " + std::to_string(PR_SET_CHILD_SUBREAPER) +
                                  ", 1, 0, 0, 0) == 0 or die 'prctl'; exec @ARGV or die 'exec'"}}},
        {.label = "doom: the framebuffer cannot be closed", .args = {"doom", "1"}, .caller = screen_caller(),
         .err = said("close: Input/output error"), .setup = screen,
         .fault = {.call = "close", .how = "error=EIO", .path = "/dev/fb0"}},
        // Its line sent, the delayed child, root's by then, says why the tool never ran.
        {.label = "reboot: a root step fails after the line", .args = {"reboot", "0"},
         .caller = {.user = "user", .syslog = true}, .err = said("setrlimit: Operation not permitted"),
         .check = logged({"authpriv.notice app[N]: scheduled /usr/sbin/reboot in 0 s",
                          "authpriv.notice app[N]: cannot run /usr/sbin/reboot: setrlimit: Operation not permitted"}),
         .fault = {.call = "prlimit64", .how = "error=EPERM", .at = "prlimit64(0, RLIMIT_CPU, {"},
         .needs = busybox_needed},
        // Stopped right after its first line, the process that sets the clock
        // is root's already: the caller cannot kill it, and once continued it
        // sets the clock and runs hwclock.
        {.label = "time: the caller cannot end the process that sent the first line",
         .args = {"time", "1796601600", "0"}, .caller = AS_USER, .tools = {"hwclock"}, .clock = "set 1796601600 0",
         .fault = {.call = "sendmsg", .how = "signal=SIGSTOP", .strace = {"-o", "/records/trace"},
                   .beside = THE_CALLER_KILLS_WHAT_STOPS}},
    },
            .setuid = true};
}

const Strings NGINX{"service", "start", "nginx"};
const std::string EPERM_TEXT = "Operation not permitted";
const std::string EINVAL_TEXT = "Invalid argument";
const std::string EDQUOT_TEXT = "Disk quota exceeded";

// Each process refused the reset value (injected) asks next for util_min 0
// and util_max 1024; a kernel with clamps (there is sched_util_clamp_max)
// gives the script those.
void clamps_by_value(const DeviceRoot& root, const RunResult&) {
    const std::string trace = root.read("/records/trace");
    const auto count = [&](const std::string& text) {
        int n = 0;
        for (std::size_t at = trace.find(text); at != std::string::npos; at = trace.find(text, at + 1)) ++n;
        return n;
    };
    EXPECT_GT(count("(INJECTED)"), 0) << "no reset value refused: the row proves nothing";
    EXPECT_EQ(count("sched_util_min=0, sched_util_max=1024}"), count("(INJECTED)"));
    if (access("/proc/sys/kernel/sched_util_clamp_max", F_OK) != 0) return;
    EXPECT_EQ(root.records_of("S50nginx").at(0).get("k.sched_attr.util"), "0 1024");
}

// A step of starting the tool as root, failed: the applet names it, with the
// reason the kernel gave, and the tool never runs. The label tells apart two
// calls of one kind.
Row step(const std::string& message, Fault fault, const std::string& reason = EPERM_TEXT,
         const std::string& label = "") {
    if (fault.how.empty()) fault.how = "error=EPERM";
    return {.label = label.empty() ? message : label, .args = NGINX, .caller = AS_USER, .status = 2,
            .err = said(message + ": " + reason), .fault = fault};
}

// Each step of starting a tool as root, failing. Where the kernel lacks a
// call (ENOSYS) that has a fallback, the tool still runs.
TABLE(Fault, ToolsRunAsRoot) {
    std::vector<Row> rows = {
        step("fork", {.call = "clone", .how = "error=EAGAIN"}, "Resource temporarily unavailable"),
        step("setgroups", {.call = "setgroups"}),
        step("setgid", {.call = "setgid"}),
        step("setsid", {.call = "setsid"}),
        step("prlimit", {.call = "prlimit64", .at = "prlimit64(1,"}),
        step("setrlimit", {.call = "prlimit64", .at = "prlimit64(0, RLIMIT_CPU, {"}),
        step("sched_setattr", {.call = "sched_setattr"}),
        step("ioprio_set", {.call = "ioprio_set"}),
        step("sched_getaffinity", {.call = "sched_getaffinity", .at = "sched_getaffinity(1,"}),
        step("sched_setaffinity", {.call = "sched_setaffinity"}),
        step("personality", {.call = "personality", .how = "error=EINVAL"}, EINVAL_TEXT),
        step("prctl PR_SET_TIMERSLACK", {.call = "prctl", .how = "error=EINVAL", .at = "prctl(PR_SET_TIMERSLACK"},
             EINVAL_TEXT),
#if defined(__i386__) || defined(__x86_64__)
        step("prctl PR_SET_TSC", {.call = "prctl", .at = "prctl(PR_SET_TSC"}),
#endif
        step("prctl PR_SET_THP_DISABLE", {.call = "prctl", .at = "prctl(PR_SET_THP_DISABLE"}),
        step("prctl PR_MCE_KILL", {.call = "prctl", .at = "prctl(PR_MCE_KILL"}),
        step("keyctl", {.call = "keyctl", .how = "error=EDQUOT", .at = "keyctl(KEYCTL_SET_REQKEY_KEYRING"},
             EDQUOT_TEXT, "keyctl, requested keys' keyring"),
        step("set_mempolicy", {.call = "set_mempolicy"}),
        // By path: counted among all opens, the one to fail would depend on how
        // many files the C library's loader opens first.
        step("/proc/1/oom_score_adj", {.call = "openat", .path = "/proc/1/oom_score_adj"}),
        step("/proc/self/coredump_filter", {.call = "openat", .path = "/proc/self/coredump_filter"}),
        step("keyctl", {.call = "keyctl", .how = "error=EDQUOT"}, EDQUOT_TEXT, "keyctl, session keyring"),
        step("setitimer", {.call = "setitimer", .how = "error=EINVAL"}, EINVAL_TEXT),
        step("chdir", {.call = "chdir", .at = "chdir(\"/\")"}),
    };
    // Waiting fails in both waiting processes, the caller's and the root
    // one, which learns it only once the script has run.
    Row wait = step("waitpid", {.call = "wait4", .how = "error=EINVAL"}, EINVAL_TEXT);
    wait.err += wait.err;
    wait.tools = {"S50nginx"};
    rows.push_back(wait);
    // A kernel without the call, or without the setting: nothing to reset.
    const Strings raw{"-X", "raw"};  // strace's name for KSM's prctl differs from one release to the next
    for (const Fault& missing : std::vector<Fault>{
             {.call = "sched_setattr", .how = "error=ENOSYS"},
             {.call = "keyctl", .how = "error=ENOSYS"},
             {.call = "set_mempolicy", .how = "error=ENOSYS"},
             {.call = "sched_setattr", .how = "error=EOPNOTSUPP", .at = "sched_setattr(0, {size=56"},
             {.call = "sched_setattr", .how = "error=E2BIG", .at = "sched_setattr(0, {size=56"},
             {.call = "prctl", .how = "error=EINVAL", .at = "prctl(0x43,", .strace = raw},
         })
        rows.push_back({.label = missing.call + " " + missing.how + " " + missing.at, .args = NGINX,
                        .caller = AS_USER, .tools = {"S50nginx"},
                        .check = recorded("S50nginx", "k.sched_attr.policy", "0"),
                        .fault = missing});
    rows.push_back(step("prctl PR_SET_MEMORY_MERGE", {.call = "prctl", .at = "prctl(0x43,", .strace = raw}));
    // A kernel that refuses the "reset" value (5.3 to 5.10): each root
    // process asks for the defaults by value next, and a caller's own clamps
    // (util_max 512) are gone where the kernel has clamps.
    rows.push_back({.label = "sched_setattr error=EINVAL, the caller's clamps", .args = NGINX, .caller = AS_USER,
                    .tools = {"S50nginx"}, .check = clamps_by_value,
                    .fault = {.call = "sched_setattr", .how = "error=EINVAL", .strace = {"-o", "/records/trace"},
                              .before = {"/usr/bin/perl", "-e",
                                         "my $clamp = pack('LLQlLQQQLL', 56, 0, 0x58, 0, 0, 0, 0, 0, 0, 512); "
                                         "syscall(" + std::to_string(SYS_sched_setattr) +
                                             ", 0, $clamp, 0); exec @ARGV or die 'exec'"}}});
    // Without clamps, and then failing without them too.
    rows.push_back(step("sched_setattr", {.call = "sched_setattr", .how = "error=EOPNOTSUPP:when=1+"},
                        "Operation not supported", "sched_setattr without clamps, failing"));
    for (const std::string call : {"sched_setscheduler", "setpriority"})
        rows.push_back({.label = call + " after sched_setattr", .args = NGINX, .caller = AS_USER, .status = 2,
                        .err = said(call + ": " + EPERM_TEXT),
                        .fault = {.call = "sched_setattr", .how = "error=ENOSYS", .also = call + ":error=EPERM"}});
    return {.rows = rows, .setuid = true};
}

}  // namespace
