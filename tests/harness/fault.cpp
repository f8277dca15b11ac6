#include "fault.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace devroot {

namespace {

namespace fs = std::filesystem;

const std::string FAULT_PRELOAD_INSIDE = "/usr/lib/fault_preload.so";

bool injected_by_preload(const Fault& f) { return f.how.rfind("preload ", 0) == 0; }

// The app as a caller names it: the supervisor by its installed path, an
// applet through a link in /usr/bin.
std::string program(const Row& row) { return row.args.empty() ? "/app/bin/app" : "/usr/bin/app"; }

// Under strace as root, which starts the app as the row's user (honouring
// the set-user-ID bit): traced to /records/calls, or with the `when`th call failed.
RunResult run_traced(const DeviceRoot& root, const Row& row, int when) {
    const Fault& f = row.fault;
    if (!root.exists("/usr/bin/app")) fs::create_symlink("/app/bin/app", root.host_path("/usr/bin/app"));
    // strace fails only calls it traces.
    const std::string traced = f.call + (f.also.empty() ? "" : "," + f.also.substr(0, f.also.find(':')));
    Strings argv{"/usr/bin/strace", "-f", "--quiet=all", "-o", when ? "/dev/null" : "/records/calls",
                 "-e", "trace=" + traced};
    if (!f.path.empty()) argv.insert(argv.end(), {"-P", f.path});
    if (when) {
        std::string how = f.how.find("when=") == std::string::npos ? f.how + ":when=" + std::to_string(when) : f.how;
        argv.insert(argv.end(), {"-e", "inject=" + f.call + ":" + how});
        if (!f.also.empty()) argv.insert(argv.end(), {"-e", "inject=" + f.also});
    }
    argv.insert(argv.end(), f.strace.begin(), f.strace.end());
    if (!row.caller.user.empty()) argv.insert(argv.end(), {"-u", row.caller.user});
    for (const std::string& e : row.caller.env) argv.insert(argv.end(), {"-E", e});
    argv.push_back(program(row));
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    // Orphaned at once, so that neither strace nor the app has it as a child.
    if (!f.beside.empty())
        argv.insert(argv.begin(), {"/bin/bash", "-c",
                                   "( (" + f.beside + ") </dev/null >/dev/null 2>&1 & ); exec \"$@\"", "bash"});
    argv.insert(argv.begin(), f.before.begin(), f.before.end());
    RunOptions o;
    o.close_fds = row.caller.close_fds;
    o.syslog = row.caller.syslog;
    o.linger = FAULT_LINGER_SECONDS;
    o.timeout = FAULT_TIMEOUT_SECONDS;
    return root.run_command(argv, o);
}

// Which of its process's calls of the row's call is the one to fail, counted
// as strace counts them: a dry run in a root of its own traces them all.
int ordinal(const Row& row, const Table& table) {
    const Fault& f = row.fault;
    if (f.at.empty()) return 1;
    DeviceRoot root(table.setuid);
    if (table.prepare) table.prepare(root);
    if (row.setup) row.setup(root);
    run_traced(root, row, 0);
    std::map<std::string, int> calls;  // per process
    std::ifstream trace(root.host_path("/records/calls"));
    for (std::string line; std::getline(trace, line);) {
        std::size_t text = line.find_first_not_of(' ', line.find(' '));
        if (text == std::string::npos || line.compare(text, f.call.size() + 1, f.call + "(") != 0) continue;
        int n = ++calls[line.substr(0, line.find(' '))];
        if (line.compare(text, f.at.size(), f.at) == 0) return n;
    }
    ADD_FAILURE() << label_of(row) << ": no call " << f.at;
    return 1;
}

// The library goes after any the caller preloads.
RunResult run_preloaded(const DeviceRoot& root, const Row& row) {
    root.install(FAULT_PRELOAD, FAULT_PRELOAD_INSIDE, 0755);
    root.write("/etc/standin/fault", row.fault.call + " " + row.fault.how.substr(8));
    RunOptions o = row.caller;
    std::string preload = "LD_PRELOAD=";
    o.env.clear();
    for (const std::string& e : row.caller.env) {
        if (e.rfind(preload, 0) == 0) preload = e + " ";
        else o.env.push_back(e);
    }
    o.env.push_back(preload + FAULT_PRELOAD_INSIDE);
    o.argv0 = row.args.empty() ? "/app/bin/app" : "app";
    o.linger = FAULT_LINGER_SECONDS;
    o.timeout = FAULT_TIMEOUT_SECONDS;
    return root.run(row.args, o);
}

}  // namespace

RunResult run_with_fault(const DeviceRoot& root, const Row& row, const Table& table) {
    if (injected_by_preload(row.fault)) return run_preloaded(root, row);
    return run_traced(root, row, ordinal(row, table));
}

std::string faults_possible() {
    if (emulated()) return "strace cannot trace the app through the user-mode emulator";
    if (access("/usr/bin/strace", X_OK) != 0) return "needs strace";
    return "";
}

}  // namespace devroot
