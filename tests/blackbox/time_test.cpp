// time: every check before the clock, the clock itself, then hwclock as root.
// The clock is only ever set to the time it already has, read just before.
#include <csignal>

#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;

// One date call gives both fields, so they never straddle a second.
const std::string NOW = "$(date '+%s %N')";

Strings shell(const std::string& time_args) {
    return {"/bin/bash", "-c", shell_exec_app("app") + " time " + time_args};
}

// Root's would be set; an unprivileged caller's (no_new_privs: the set-user-ID
// bit does nothing) would show the failure of the clock or of a root step.
TEST(Time, BadInputIsRefusedBeforeTheClock) {
    std::vector<Row> rows = {
        {.args = {"time"}, .status = 1, .err = TIME_USAGE},
        {.args = {"time", "1"}, .status = 1, .err = TIME_USAGE},
        {.args = {"time", "1", "2", "3"}, .status = 1, .err = TIME_USAGE},
        {.args = {"time", "12a", "0"}, .status = 1, .err = SECONDS_UNPARSED},
        {.args = {"time", "", "0"}, .status = 1, .err = SECONDS_UNPARSED},
        {.args = {"time", "1.5", "0"}, .status = 1, .err = SECONDS_UNPARSED},
        {.args = {"time", "0x10", "0"}, .status = 1, .err = SECONDS_UNPARSED},
        {.args = {"time", "1", "abc"}, .status = 1, .err = NANOSECONDS_UNPARSED},
        {.args = {"time", "1", ""}, .status = 1, .err = NANOSECONDS_UNPARSED},
        {.args = {"time", "1", "5 "}, .status = 1, .err = NANOSECONDS_UNPARSED},
        {.args = {"time", "1", "1000000000"}, .status = 1, .err = NANOSECONDS_OUT_OF_RANGE},
        {.args = {"time", "1", "-1"}, .status = 1, .err = NANOSECONDS_OUT_OF_RANGE},
        {.args = {"time", "1", "99999999999999999999"}, .status = 1, .err = NANOSECONDS_OUT_OF_RANGE},
    };
    for (std::size_t i = 0, n = rows.size(); i < n; ++i) {
        Row unprivileged = rows[i];
        unprivileged.label = testing::PrintToString(unprivileged.args) + " (no_new_privs)";
        unprivileged.caller.user = "user";
        unprivileged.command = without_new_privileges(unprivileged.args);
        rows.push_back(unprivileged);
    }
    run_table(rows, {.setuid = true});
}

TEST(Time, ATimeTheKernelRefusesLeavesTheHardwareClockAlone) {
    run_table({
        {.label = "-1 0", .command = shell("-1 0"), .status = 2, .err = CLOCK_REFUSED},
        // Saturates to the largest value rather than wrapping to some valid date.
        {.label = "99999999999999999999 0", .command = shell("99999999999999999999 0"), .status = 2,
         .err = CLOCK_REFUSED},
        {.label = "now, unprivileged", .caller = {.user = "user"}, .command = shell(NOW), .status = 2,
         .err = CLOCK_NOT_PERMITTED},
    });
}

// hwclock got the clock's time written to it, as root, in the tool
// environment, with every signal at its default.
void wrote_the_hardware_clock(const DeviceRoot& root, const RunResult&) {
    auto runs = root.records_of("hwclock");
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs[0].all("argv"), (Strings{"/usr/sbin/hwclock", "--systohc"}));
    EXPECT_EQ(runs[0].get("ruid"), "0");
    EXPECT_EQ(runs[0].get("euid"), "0");
    EXPECT_EQ(runs[0].all("env"), TOOL_ENVIRONMENT);
    EXPECT_EQ(runs[0].get("sigign") + " " + runs[0].get("sigblk"), "0000000000000000 0000000000000000");
}

// Real-time signals the caller ignored and blocked are at their defaults for
// hwclock; the caller gets hwclock's status.
TEST(Time, SetsTheClockThenBecomesHwclockAsRoot) {
    for (bool setuid_install : {false, true}) {
        RunOptions caller{.user = setuid_install ? "user" : ""};
        caller.ignored = caller.blocked = {SIGRTMIN + 1, SIGRTMAX};
        run_table({{.label = setuid_install ? "set-user-ID install" : "root", .caller = caller,
                    .command = shell(NOW), .status = 7, .tools = {"hwclock"},
                    .setup = [](const DeviceRoot& root) { root.control("hwclock", "exit 7"); },
                    .check = wrote_the_hardware_clock}},
                  {.setuid = setuid_install});
    }
}

TEST(Time, FailuresAfterTheClockIsSet) {
    run_table({
        {.label = "may set the clock but not become root",
         .command = {"/usr/bin/setpriv", "--reuid=1001", "--regid=1001", "--clear-groups", "--inh-caps=+sys_time",
                     "--ambient-caps=+sys_time", "--", "/bin/bash", "-c", shell(NOW)[2]},
         .status = 2, .err = NOT_ROOT},
        {.label = "hwclock not executable", .command = shell(NOW), .status = 2,
         .err = said("cannot launch hwclock: Permission denied"),
         .setup = [](const DeviceRoot& root) { root.write("/usr/sbin/hwclock", "", 0644); }},
    });
}

}  // namespace
