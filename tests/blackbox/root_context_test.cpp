// How a tool run as root starts, whoever called: the kernel's view of its
// process, its limits, its standard streams, and the caller's own priorities.
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;

// Bytes a tool is told to write to a file of its own: more than any soft file
// size limit of a caller's (the hostile caller's 1 MiB, a caller's ulimit -f 1).
const std::map<std::string, long> WRITES = {{"S49gen-certs", 2 << 20}};

// The tools that end on their own: all but the game.
std::vector<RootTool> ending_tools() {
    std::vector<RootTool> tools;
    for (const RootTool& t : ROOT_TOOLS)
        if (!t.tied) tools.push_back(t);
    return tools;
}

// The game runs only where it can be given a screen: in its root, and the
// library that shows it in its caller.
Needs needs_of(const RootTool& t) { return t.tied ? Needs(screen_needed) : nullptr; }
RunOptions with_screen_for(const RootTool& t, RunOptions o) {
    if (t.tied) o.env = {screen_env()};
    return o;
}
void give_screen_for(const RootTool& t, const DeviceRoot& root) {
    if (t.tied) give_screen(root, "800 480");
}

// The tool wrote `bytes` to its file, root's, with init's mask.
Check wrote(const std::string& tool, long bytes) {
    return [=](const DeviceRoot& root, const RunResult&) {
        struct stat st{};
        ASSERT_EQ(stat(root.host_path("/records/" + tool + ".out").c_str(), &st), 0) << tool;
        EXPECT_EQ(st.st_size, bytes) << tool;
        EXPECT_EQ(std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid), "0:0") << tool;
        EXPECT_EQ(st.st_mode & 07777, 0644u) << tool;
    };
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
    {"k.sid_leader"}, {"k.stat.[78]"}, {"k.autogroup.nice"}, {"k.pgrp_leader"}, {"k.prctl.pdeathsig"},
};

// qemu-arm's user mode implements neither keyctl nor set_mempolicy nor
// PR_SET_THP_DISABLE nor PR_SET_MEMORY_MERGE: the emulated app is told ENOSYS
// or EINVAL, as by a kernel without them, while the caller (a host program)
// did set them on the host's kernel. A real ARM kernel has them (the native rows prove the steps).
// Debian 13's qemu-arm also keeps host real-time signals for itself, ignored,
// and whatever it starts inherits them ignored: that is the emulator's doing.
const Allowed EMULATOR_MAY_DIFFER[] = {
    {"k.keys.*"}, {"k.mempolicy"}, {"k.prctl.thp_disable"}, {"k.status.THP_enabled"}, {"k.prctl.memory_merge"},
    {"k.status.SigIgn"},
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
    if (emulated())
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

// Descriptor numbers, without what they lead to.
std::string descriptors(const Record& r) {
    std::string numbers;
    for (const std::string& fd : r.all("fd")) numbers += fd.substr(0, fd.find(':')) + " ";
    return numbers;
}

// The kernel's view of the tool's two starts, by a service manager and then
// by the hostile caller, is the same but for what may differ; so are its
// directory and its descriptors' numbers.
void same_kernel_view(const DeviceRoot& root, const RootTool& t) {
    const auto runs = root.records_of(t.name);
    ASSERT_EQ(runs.size(), 2u) << t.applet;
    EXPECT_EQ(runs[1].get("cwd"), runs[0].get("cwd")) << t.applet;
    EXPECT_EQ(descriptors(runs[1]), descriptors(runs[0])) << t.applet;
    auto expected = kernel_view(runs[0]), seen = kernel_view(runs[1]);
    ASSERT_GT(expected.size(), 100u) << t.applet;
    for (const auto& [key, value] : seen) expected.emplace(key, "(none)");
    for (const auto& [key, value] : expected) {
        auto found = seen.find(key);
        std::string other = found == seen.end() ? "(none)" : found->second;
        if (other != value && !may_differ(key, value, other, t))
            ADD_FAILURE() << t.applet << ": " << key << " is " << other << ", started by a service manager " << value;
    }
}

// The same tool started by a service manager, then by a caller that set all
// it could on itself, in a directory of its own with more descriptors open:
// the kernel's view of the two processes is the same, but for what
// identifies the process and what cannot be undone; the file a tool writes
// is whole, root's and 0644. `delegated`: the caller sits in a cgroup of its
// own, as a service manager delegates one.
Table kernel_view_of_a_service(bool delegated) {
    // Turning KSM merging off walks every page of every mapping, and the
    // sanitizers' shadow maps terabytes: there the caller leaves it off.
    Strings caller{"/bin/bash", "-c"};
    if (APP_SANITIZED)
        caller = {"/usr/bin/perl", "-e", "syscall(" + std::to_string(SYS_prctl) + ", 67, 0, 0, 0, 0); exec @ARGV",
                  "/bin/bash", "-c"};
    std::vector<Row> rows;
    for (const RootTool& t : ROOT_TOOLS) {
        Strings command = caller;
        command.push_back("cd /tmp; exec 3</etc/passwd 4>/tmp/x; " + shell_exec_app("app") + " " + t.applet);
        const auto found = WRITES.find(t.name);
        const long bytes = found == WRITES.end() ? 0 : found->second;
        rows.push_back({.label = t.applet,
                        .caller = with_screen_for(t, {.user = "user", .linger = 30, .hostile = true, .cgroup2 = delegated,
                                                      .delegate = delegated ? "caller" : ""}),
                        .command = command,
                        .tools = {t.name, t.name}, .clock = t.clock,
                        .setup =
                            [t, delegated, bytes](const DeviceRoot& root) {
                                if (bytes) root.control(t.name, "write " + std::to_string(bytes));
                                auto r = root.run_command({t.path}, {.session = true, .cgroup2 = delegated});
                                ASSERT_EQ(r.status, 0) << t.path << ": " << r.err;
                                give_screen_for(t, root);
                            },
                        .check =
                            [t, bytes](const DeviceRoot& root, const RunResult& r) {
                                same_kernel_view(root, t);
                                if (bytes) wrote(t.name, bytes)(root, r);
                            },
                        .needs = needs_of(t)});
    }
    return {.rows = rows, .setuid = true};
}

TABLE(RootContext, ToolsRunAsRootInheritNothingTheKernelKeepsForTheCaller) {
    return kernel_view_of_a_service(false);
}

std::string cgroup2_needed() {
    return cgroup2_available() ? "" : "no cgroup v2 hierarchy here to give a device root one of";
}

TABLE(RootContext, ToolsRunAsRootLeaveTheCallersDelegatedCgroup) {
    Table table = kernel_view_of_a_service(true);
    table.needs = cgroup2_needed;
    return table;
}

// Only CAP_SYS_RESOURCE lifts a hard limit the caller lowered, and some
// machines' root lacks it (containers): then the tool must not run at all.
TABLE(RootContext, ACallersHardLimitIsLiftedOrNothingRuns) {
    const bool lifted = root_lifts_limits();
    const long bytes = WRITES.at("S49gen-certs");
    return {.rows = {{.label = "ulimit -f 1", .caller = {.user = "user"},
                      .command = {"/bin/bash", "-c",
                                  "ulimit -f 1; " + shell_exec_app("app") + " service start gen-certs"},
                      .status = lifted ? 0 : 2, .err = lifted ? "" : said("setrlimit: Operation not permitted"),
                      .tools = lifted ? Strings{"S49gen-certs"} : Strings{},
                      .setup = [=](const DeviceRoot& root) {
                          root.control("S49gen-certs", "write " + std::to_string(bytes));
                      },
                      .check = lifted ? wrote("S49gen-certs", bytes) : Check{}}},
            .setuid = true};
}

// Puts the shell script `text` in place of every tool that ends on its own,
// root's, mode 0755, with the device's /dev/std* links that scripts re-open
// streams by.
void script_every_tool(const DeviceRoot& root, const std::string& text) {
    for (const RootTool& t : ending_tools()) {
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
Strings perl_caller(const std::string& setup, const std::string& applet) {
    return {"/usr/bin/perl", "-MPOSIX", "-e", setup + "exec('/bin/bash', '-c', $ARGV[0]) or die 'exec'",
            shell_exec_app("app") + " " + applet};
}

// Perl that puts `path`, opened with `flags`, on descriptor `fd`.
std::string put(int fd, const std::string& path, int flags) {
    return "POSIX::dup2(POSIX::open('" + path + "', " + std::to_string(flags) + ") // die('" + path + "'), " +
           std::to_string(fd) + ") // die('dup2'); ";
}

// Root's files that a caller's descriptors name: content and mode.
const std::map<std::string, std::pair<std::string, mode_t>> ROOTS_FILES = {
    {"/etc/secret", {"root's secret\n", 0600}},
    {"/etc/key", {"root's key\n", 0600}},
    {"/etc/public", {"anyone may read this\n", 0644}},
    {"/etc/dropbox", {"anyone may add to this\n", 0622}},
};

// A descriptor the caller holds in the wrong direction, or only as a path
// (O_PATH needs no permission on the file), must not let a root tool re-open
// its file by name: what the tool writes goes nowhere, what it reads is empty.
TABLE(RootContext, RootToolsReopenTheirStreamsOnlyInTheCallersDirection) {
    const std::string text = "the caller's text\n";
    std::vector<Row> rows;
    // `perl` sets up the caller's descriptors; with `pipes` the test's stay on
    // 0-2; with `files` they are the caller's own files, open for reading and
    // writing (as a terminal or a socket is), which the tool must reach.
    enum Streams { WRONG, PIPES, FILES };
    const auto add = [&](const std::string& label, const std::string& perl, Streams streams) {
        const bool pipes = streams == PIPES;
        for (const RootTool& t : ending_tools())
            rows.push_back({.label = label + ", " + t.applet,
                            .caller = {.user = "user", .linger = 30, .stdin_pipe = pipes, .stdin_text = text},
                            .command = perl_caller(perl, t.applet),
                            .err = pipes ? t.name + " err\n" : "",
                            .out = pipes ? t.name + " out\n" : "", .clock = t.clock,
                            .setup =
                                [t, text](const DeviceRoot& root) {
                                    for (const auto& [path, file] : ROOTS_FILES) root.write(path, file.first, file.second);
                                    for (const char* suffix : {".ran", ".stdin"})
                                        std::filesystem::remove(root.host_path("/records/" + t.name + suffix));
                                    root.write("/tmp/in", text, 0666);
                                    root.write("/tmp/out", "", 0666);
                                    root.write("/tmp/err", "", 0666);
                                },
                            .check =
                                [t, streams, text](const DeviceRoot& root, const RunResult&) {
                                    EXPECT_EQ(root.read("/records/" + t.name + ".ran"), "ran\n") << t.applet;
                                    EXPECT_EQ(root.read("/records/" + t.name + ".stdin"), streams == WRONG ? "" : text)
                                        << t.applet;
                                    for (const auto& [path, file] : ROOTS_FILES)
                                        EXPECT_EQ(root.read(path), file.first) << t.applet << ": " << path;
                                    const bool files = streams == FILES;
                                    EXPECT_EQ(root.read("/tmp/out"), files ? t.name + " out\n" : "") << t.applet;
                                    EXPECT_EQ(root.read("/tmp/err"), files ? t.name + " err\n" : "") << t.applet;
                                }});
    };
    add("path 0 and 2, read-only 1",
        put(0, "/etc/secret", O_PATH) + put(1, "/etc/public", O_RDONLY) + put(2, "/etc/key", O_PATH), WRONG);
    add("write-only 0, path 1, read-only 2",
        put(0, "/etc/dropbox", O_WRONLY) + put(1, "/etc/key", O_PATH) + put(2, "/etc/public", O_RDONLY), WRONG);
    add("pipes", "", PIPES);
    add("read-write 0-2", put(0, "/tmp/in", O_RDWR) + put(1, "/tmp/out", O_RDWR) + put(2, "/tmp/err", O_RDWR), FILES);
    return {.rows = rows, .setuid = true, .prepare = [](const DeviceRoot& root) {
                script_every_tool(root,
                                  "#!/bin/sh\n"
                                  "echo \"${0##*/} out\" >/dev/stdout\n"
                                  "echo \"${0##*/} err\" >/dev/stderr\n"
                                  "cat /dev/stdin >/records/${0##*/}.stdin\n"
                                  "echo ran >/records/${0##*/}.ran\n");
            }};
}

// The root steps are the tool's alone: a caller that runs app (rather than
// becoming it) keeps the priorities it gave itself, also where the game
// shares its session and process group. The tools left behind take their
// root steps after the applet returned: the caller waits for their record
// (the game's comes while it runs), up to 30 s.
TABLE(RootContext, TheCallerKeepsItsOwnPriorities) {
    std::vector<Row> rows;
    for (const RootTool& t : ROOT_TOOLS) {
        rows.push_back({.label = t.applet, .caller = with_screen_for(t, {.user = "user", .linger = 30}),
                        .command = {"/bin/bash", "-c",
                                    "renice -n 19 $$ >/dev/null; ionice -c 3 -p $$; (" +
                                        shell_exec_app("app") + " " + t.applet +
                                        "); for i in $(seq 300); do grep -qs tool=" + t.name +
                                        " /records/log && break; sleep 0.1; done; echo \"$(nice) $(ionice -p $$)\""},
                        .out = "19 idle\n", .tools = {t.name}, .clock = t.clock,
                        .setup = [t](const DeviceRoot& root) { give_screen_for(t, root); },
                        .needs = needs_of(t)});
    }
    return {.rows = rows, .setuid = true};
}

}  // namespace
