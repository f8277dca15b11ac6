#include "table.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

namespace devroot {

const std::string ANY = "\x01(not compared)";

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

const std::string FAULT_PRELOAD_INSIDE = "/usr/lib/fault_preload.so";

}  // namespace

std::string label_of(const Row& row) {
    std::string label = row.label;
    for (std::size_t i = 0; row.label.empty() && i < row.args.size(); ++i) {
        if (i) label += ' ';
        label.append(row.args[i], 0, 24);
    }
    for (char& c : label)
        if (c < 0x20 || c > 0x7e) c = '?';
    return label.empty() ? "(no arguments)" : label;
}

namespace {

// Size, time, mode and owner of everything in the root but the records
// (the kernel log a FIFO, whose time a write moves), the harness's own files
// and the LED files (compared by content).
Files snapshot(const DeviceRoot& root) {
    static const std::set<std::string> skipped = {"/records", "/dev/kmsg", "/proc", "/.devroot/usr-work",
                                                  "/.devroot/result"};
    Files files;
    for (auto it = fs::recursive_directory_iterator(root.dir); it != fs::recursive_directory_iterator(); ++it) {
        std::string inside = it->path().string().substr(root.dir.size());
        if (skipped.count(inside)) {
            it.disable_recursion_pending();
            continue;
        }
        if (inside == "/.devroot" || inside.rfind("/sys/class/leds/", 0) == 0) continue;
        struct stat st{};
        lstat(it->path().c_str(), &st);
        files[inside] = std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                        std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_mode) + " " +
                        std::to_string(st.st_uid);
    }
    return files;
}

// A clock call as Row::clock names it; a clock other than CLOCK_REALTIME first.
std::string clock_call(const Record& r) {
    const std::string clock = r.get("clock") == "0" ? "" : "clock " + r.get("clock") + " ";
    return clock + (r.get("event") == "set" ? "set" : r.get("errno")) + " " + r.get("seconds") + " " +
           r.get("nanoseconds");
}

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
    o.linger = 3;
    o.timeout = 60;
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

RunResult run_with_fault(const DeviceRoot& root, const Row& row, const Table& table) {
    if (!injected_by_preload(row.fault)) return run_traced(root, row, ordinal(row, table));
    root.install(FAULT_PRELOAD, FAULT_PRELOAD_INSIDE, 0755);
    root.write("/etc/standin/fault", row.fault.call + " " + row.fault.how.substr(8));
    // After any library the caller preloads.
    RunOptions o = row.caller;
    std::string preload = "LD_PRELOAD=";
    o.env.clear();
    for (const std::string& e : row.caller.env) {
        if (e.rfind(preload, 0) == 0) preload = e + " ";
        else o.env.push_back(e);
    }
    o.env.push_back(preload + FAULT_PRELOAD_INSIDE);
    o.argv0 = row.args.empty() ? "/app/bin/app" : "app";
    o.linger = 3;
    o.timeout = 60;
    return root.run(row.args, o);
}

RunResult run_row(const DeviceRoot& root, const Row& row, const Table& table) {
    if (!row.fault.call.empty()) return run_with_fault(root, row, table);
    if (!row.command.empty()) return root.run_command(row.command, row.caller);
    return root.run(row.args, row.caller);
}

void check_row(const DeviceRoot& root, const Row& row, const RunResult& r, const Files& before,
               const Table& table) {
    const std::string label = label_of(row);
    EXPECT_EQ(r.status, row.status) << label << "\n" << r.err.substr(0, 300);
    // Texts of 128 KiB stay out of the failure message.
    if (row.err != ANY) {
        EXPECT_TRUE(r.err == row.err) << label << ": stderr " << r.err.substr(0, 300);
    }
    EXPECT_EQ(r.out, row.out) << label;
    Strings started;
    std::string clock;
    for (const Record& record : root.records()) {
        if (record.get("event") == "start") started.push_back(record.get("tool"));
        if (record.get("tool") == "clock") clock += (clock.empty() ? "" : "; ") + clock_call(record);
    }
    EXPECT_EQ(started, row.tools) << label;
    EXPECT_EQ(clock, row.clock) << label;
    for (const auto& [file, bytes] : led_files(root)) {
        auto written = row.leds.find(file);
        EXPECT_TRUE(bytes == (written == row.leds.end() ? "" : written->second)) << label << ": " << file << " holds "
                                                                                  << bytes.substr(0, 100);
    }
    if (table.unchanged) {
        const Files after = snapshot(root);
        for (const auto& [path, state] : after) {
            auto old = before.find(path);
            EXPECT_TRUE(old != before.end() && old->second == state) << label << ": " << path << " written";
        }
        for (const auto& [path, state] : before) EXPECT_TRUE(after.count(path)) << label << ": " << path << " removed";
    }
    if (row.check) row.check(root, r);
    if (table.each) table.each(root, row, r);
}

}  // namespace

Files led_files(const DeviceRoot& root) {
    Files files;
    for (const auto& led : fs::directory_iterator(root.host_path("/sys/class/leds")))
        for (const auto& attribute : fs::directory_iterator(led.path())) {
            const std::string inside = attribute.path().string().substr(root.dir.size());
            files[inside] = attribute.is_symlink() ? "(link)" : root.read(inside);
        }
    return files;
}

Record record_within(const DeviceRoot& root, const RunResult& r, const std::string& tool, long from, long to,
                     std::string_view event) {
    const auto records = root.records_of(tool, event);
    if (records.empty()) {
        ADD_FAILURE() << "no " << event << " of " << tool;
        return {};
    }
    const long after = r.since_start(records[0]);
    EXPECT_TRUE(after >= from && after < to) << tool << " " << event << " " << after << " ms after the app's start, "
                                             << "not in [" << from << ", " << to << ")";
    return records[0];
}

void run_table(const std::vector<Row>& rows, const Table& table) {
    REQUIRE_ROOT();
    std::unique_ptr<DeviceRoot> shared;
    for (const Row& row : rows) {
        if (!row.fault.call.empty()) {
            SKIP_IF_EMULATED("strace cannot trace the app through the user-mode emulator");
            if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace";
        }
        if (!shared || table.root_per_row) {
            shared = std::make_unique<DeviceRoot>(table.setuid);
            if (table.prepare) table.prepare(*shared);
        }
        const DeviceRoot& root = *shared;
        for (const char* records : {"/records/log", "/records/syslog", "/records/syslog-trusted", "/records/kmsg"})
            if (root.exists(records)) fs::resize_file(root.host_path(records), 0);
        for (const auto& [file, bytes] : led_files(root))
            if (bytes != "(link)") root.write(file, "");
        if (row.setup) row.setup(root);
        const Files before = table.unchanged ? snapshot(root) : Files{};
        check_row(root, row, run_row(root, row, table), before, table);
    }
}

}  // namespace devroot
