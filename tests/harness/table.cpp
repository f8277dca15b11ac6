#include "table.h"

#include <unistd.h>

#include <filesystem>

#include "fault.h"
#include "snapshot.h"

namespace devroot {

namespace {

namespace fs = std::filesystem;

// A clock call as Row::clock names it; a clock other than CLOCK_REALTIME first.
std::string clock_call(const Record& r) {
    const std::string clock = r.get("clock") == "0" ? "" : "clock " + r.get("clock") + " ";
    return clock + (r.get("event") == "set" ? "set" : r.get("errno")) + " " + r.get("seconds") + " " +
           r.get("nanoseconds");
}

RunResult run_app(const DeviceRoot& root, const Row& row, const Table& table) {
    if (!row.fault.call.empty()) return run_with_fault(root, row, table);
    if (!row.command.empty()) return root.run_command(row.command, row.caller);
    return root.run(row.args, row.caller);
}

void check_row(const DeviceRoot& root, const Row& row, const RunResult& r) {
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
}

// Why the row cannot hold here, or "".
std::string reason_to_skip(const Table& table, const Row& row) {
    if (geteuid() != 0) return "needs root: runs the app in a device root";
    for (const Needs& needs : {table.needs, row.needs})
        if (needs) {
            const std::string missing = needs();
            if (!missing.empty()) return missing;
        }
    return row.fault.call.empty() ? "" : faults_possible();
}

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

int bound(const Row& row) {
    if (row.seconds) return row.seconds;
    // A root made and run on a machine whose cores other work keeps busy
    // (a row that takes 3 s alone has taken 35 s there), its helpers' last
    // lines (10 s), then what the caller may take: a fault's run its own
    // timeout and linger (fault.cpp), twice where a dry run counts the calls.
    const int root = 60 + 10;
    if (!row.fault.call.empty())
        return (root + FAULT_TIMEOUT_SECONDS + FAULT_LINGER_SECONDS) * (row.fault.at.empty() ? 1 : 2);
    return static_cast<int>(root + row.caller.timeout + row.caller.linger);
}

void run_row(const Table& table, const Row& row) {
    const std::string missing = reason_to_skip(table, row);
    if (!missing.empty()) GTEST_SKIP() << missing;
    DeviceRoot root(table.setuid);
    if (table.prepare) table.prepare(root);
    if (row.setup) row.setup(root);
    const Snapshot before = table.unchanged ? snapshot(root) : Snapshot{};
    const RunResult r = run_app(root, row, table);
    check_row(root, row, r);
    if (table.unchanged) expect_unchanged(before, snapshot(root), label_of(row));
    if (row.check) row.check(root, r);
    if (table.each) table.each(root, row, r);
}

std::map<std::string, std::string> led_files(const DeviceRoot& root) {
    std::map<std::string, std::string> files;
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

std::string native_only(const char* why) { return emulated() ? std::string("under emulation: ") + why : ""; }

std::string busybox_needed() {
    return access("/usr/bin/busybox", X_OK) == 0 ? "" : "needs busybox (its syslogd)";
}

std::string screen_needed() { return screen_available() ? "" : "no screen stand-in for the emulated app"; }

}  // namespace devroot
