// time: every check before the clock, the clock itself, then hwclock as root.
// The device root's clock keeper answers the clock call as the kernel would
// and sets nothing: each row names the time the app asked for (Row::clock).
#include <csignal>

#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;

// None reaches the clock (no Row::clock): root's call would be recorded.
// The last check, once more without new privileges (the set-user-ID bit
// then does nothing): a root step taken before any of them would fail there.
TABLE(Time, BadInputIsRefusedBeforeTheClock) {
    return {.rows = {
        {.args = {"time"}, .status = 1, .err = TIME_USAGE},
        {.args = {"time", "1"}, .status = 1, .err = TIME_USAGE},
        {.args = {"time", "1", "2", "3"}, .status = 1, .err = TIME_USAGE},
        {.args = {"time", "12a", "0"}, .status = 1, .err = SECONDS_UNPARSED},
        {.args = {"time", "1", "abc"}, .status = 1, .err = NANOSECONDS_UNPARSED},
        {.args = {"time", "1", "1000000000"}, .status = 1, .err = NANOSECONDS_OUT_OF_RANGE},
        {.args = {"time", "1", "-1"}, .status = 1, .err = NANOSECONDS_OUT_OF_RANGE},
        {.label = "time 1 -1 (no_new_privs)", .caller = AS_USER, .command = without_new_privileges({"time", "1", "-1"}),
         .status = 1, .err = NANOSECONDS_OUT_OF_RANGE},
    },
            .setuid = true};
}

TABLE(Time, ATimeTheKernelRefusesLeavesTheHardwareClockAlone) {
    return {.rows = {
        {.args = {"time", "-1", "0"}, .status = 2, .err = CLOCK_REFUSED, .clock = "EINVAL -1 0"},
        // Saturates to the largest value rather than wrapping to some valid date.
        {.args = {"time", "99999999999999999999", "0"}, .status = 2, .err = CLOCK_REFUSED,
         .clock = "EINVAL 9223372036854775807 0"},
        // The first second past the latest time the kernel takes.
        {.args = {"time", "8277292036", "0"}, .status = 2, .err = CLOCK_REFUSED, .clock = "EINVAL 8277292036 0"},
        // Before the system started.
        {.args = {"time", "0", "0"}, .status = 2, .err = CLOCK_REFUSED, .clock = "EINVAL 0 0"},
        // Root first: without it the clock is never asked.
        {.label = "unprivileged", .args = {"time", "1796601600", "0"}, .caller = AS_USER, .status = 2,
         .err = NOT_ROOT},
    }};
}

// hwclock got the clock's time written to it, as root, in the tool
// environment, with every signal at its default; the clock call was the
// app's, in hwclock's process or its parent.
void wrote_the_hardware_clock(const DeviceRoot& root, const RunResult&) {
    auto runs = root.records_of("hwclock");
    ASSERT_FALSE(runs.empty());
    const std::string clock_caller = root.records_of("clock", "set").at(0).get("pid");
    EXPECT_TRUE(clock_caller == runs[0].get("pid") || clock_caller == runs[0].get("ppid")) << clock_caller;
    EXPECT_EQ(runs[0].all("argv"), (Strings{"/usr/sbin/hwclock", "--systohc"}));
    EXPECT_EQ(runs[0].ids(), "0 0 0 0/0 0 0 0/");
    EXPECT_EQ(runs[0].all("env"), TOOL_ENVIRONMENT);
    EXPECT_EQ(runs[0].signals(), "0000000000000000 0000000000000000");
}

// Real-time signals the caller ignored and blocked are at their defaults for
// hwclock; the caller gets hwclock's status. The times: one past 2038, which
// a 32-bit time would wrap, and the largest nanosecond value.
std::vector<Row> sets_the_clock(const std::string& user) {
    RunOptions caller{.user = user};
    caller.ignored = caller.blocked = {SIGRTMIN + 1, SIGRTMAX};
    std::vector<Row> rows;
    for (const auto& [seconds, nanoseconds] :
         std::vector<std::pair<std::string, std::string>>{{"4102444800", "0"}, {"1796601600", "999999999"}})
        rows.push_back({.label = (user.empty() ? "root, " : "set-user-ID install, ") + seconds + " " + nanoseconds,
                        .args = {"time", seconds, nanoseconds}, .caller = caller, .status = 7,
                        .tools = {"hwclock"}, .clock = "set " + seconds + " " + nanoseconds,
                        .setup = [](const DeviceRoot& root) { root.control("hwclock", "exit 7"); },
                        .check = wrote_the_hardware_clock});
    return rows;
}

TABLE(Time, SetsTheClockThenBecomesHwclockAsRoot) { return {.rows = sets_the_clock("")}; }
TABLE(Time, SetsTheClockThenBecomesHwclockAsRootForAnyCaller) {
    return {.rows = sets_the_clock("user"), .setuid = true};
}

TABLE(Time, FailuresBeforeAndAfterTheClock) {
    return {.rows = {
        // Root first, then the clock: a caller with the right to set the
        // clock but not to become root gets neither.
        {.label = "may set the clock but not become root",
         .command = {"/usr/bin/setpriv", "--reuid=1001", "--regid=1001", "--clear-groups", "--inh-caps=+sys_time",
                     "--ambient-caps=+sys_time", "--", "/bin/bash", "-c",
                     shell_exec_app("app") + " time 1796601600 0"},
         .status = 2, .err = NOT_ROOT},
        {.label = "hwclock not executable", .args = {"time", "1796601600", "0"}, .status = 2,
         .err = said("cannot launch hwclock: Permission denied"), .clock = "set 1796601600 0",
         .setup = [](const DeviceRoot& root) { root.write("/usr/sbin/hwclock", "", 0644); }},
    }};
}

}  // namespace
