// time: every check before the clock, the clock itself, then hwclock as root.
// The clock is only ever set to the time it already has, read just before.
#include "device_root.h"

#include <csignal>

namespace {

using devroot::DeviceRoot;
using devroot::RunOptions;

// One date call gives both fields, so they never straddle a second.
const std::string NOW = "$(date '+%s %N')";

std::vector<std::string> shell(const std::string& time_args) {
    return {"/bin/bash", "-c", devroot::shell_exec_app("app") + " time " + time_args};
}

struct InputCase {
    std::vector<std::string> args;
    std::string err;
};

// Root's would be set; an unprivileged caller's (no_new_privs: the set-user-ID
// bit does nothing) would show the failure of the clock or of a root step.
TEST(Time, BadInputIsRefusedBeforeTheClock) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    RunOptions no_new_privs;
    no_new_privs.user = "user";
    const std::string usage = "usage: app time <seconds> <nanoseconds>\n";
    const std::string seconds = "app: cannot parse seconds parameter\n";
    const std::string nanoseconds = "app: cannot parse nanosecond parameter\n";
    const std::string range = "app: nanosecond value out of range\n";
    const InputCase cases[] = {
        {{"time"}, usage},
        {{"time", "1"}, usage},
        {{"time", "1", "2", "3"}, usage},
        {{"time", "12a", "0"}, seconds},
        {{"time", "", "0"}, seconds},
        {{"time", "1.5", "0"}, seconds},
        {{"time", "0x10", "0"}, seconds},
        {{"time", "1", "abc"}, nanoseconds},
        {{"time", "1", ""}, nanoseconds},
        {{"time", "1", "5 "}, nanoseconds},
        {{"time", "1", "1000000000"}, range},
        {{"time", "1", "-1"}, range},
        {{"time", "1", "99999999999999999999"}, range},
    };
    for (const InputCase& c : cases) {
        auto r = root.run(c.args);
        std::string label = testing::PrintToString(c.args);
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_EQ(r.err, c.err) << label;
        r = root.run_command(devroot::without_new_privileges(c.args), no_new_privs);
        EXPECT_EQ(r.status, 1) << label << " (no_new_privs)";
        EXPECT_EQ(r.err, c.err) << label << " (no_new_privs)";
    }
    EXPECT_TRUE(root.records().empty());
}

struct RefusedTime {
    std::string time_args;
    std::string user;
    std::string err;
};

TEST(Time, ATimeTheKernelRefusesLeavesTheHardwareClockAlone) {
    REQUIRE_ROOT();
    DeviceRoot root;
    const RefusedTime cases[] = {
        {"-1 0", "", "app: failed to set time: Invalid argument\n"},
        // Saturates to the largest value rather than wrapping to some valid date.
        {"99999999999999999999 0", "", "app: failed to set time: Invalid argument\n"},
        {NOW, "user", "app: failed to set time: Operation not permitted\n"},
    };
    for (const RefusedTime& c : cases) {
        RunOptions o;
        o.user = c.user;
        auto r = root.run_command(shell(c.time_args), o);
        EXPECT_EQ(r.status, 2) << c.time_args;
        EXPECT_EQ(r.err, c.err) << c.time_args;
    }
    EXPECT_TRUE(root.records().empty());
}

// Real-time signals the caller ignored and blocked are at their defaults for hwclock.
TEST(Time, SetsTheClockThenBecomesHwclockAsRoot) {
    REQUIRE_ROOT();
    for (bool setuid_install : {false, true}) {
        DeviceRoot root(setuid_install);
        root.control("hwclock", "exit 7");
        RunOptions o;
        o.user = setuid_install ? "user" : "";
        o.ignored = o.blocked = {SIGRTMIN + 1, SIGRTMAX};
        auto r = root.run_command(shell(NOW), o);
        EXPECT_EQ(r.status, 7) << "the caller gets hwclock's status";
        EXPECT_EQ(r.err, "");
        auto runs = root.records_of("hwclock");
        ASSERT_EQ(runs.size(), 1u) << r.err;
        EXPECT_EQ(runs[0].all("argv"), (std::vector<std::string>{"/usr/sbin/hwclock", "--systohc"}));
        EXPECT_EQ(runs[0].get("ruid"), "0");
        EXPECT_EQ(runs[0].get("euid"), "0");
        EXPECT_EQ(runs[0].all("env"), std::vector<std::string>{"PATH=/usr/bin:/usr/sbin"});
        EXPECT_EQ(runs[0].get("sigign") + " " + runs[0].get("sigblk"), "0000000000000000 0000000000000000");
    }
}

TEST(Time, FailuresAfterTheClockIsSet) {
    REQUIRE_ROOT();
    DeviceRoot root;
    // May set the clock but not become root.
    auto r = root.run_command({"/usr/bin/setpriv", "--reuid=1001", "--regid=1001", "--clear-groups",
                               "--inh-caps=+sys_time", "--ambient-caps=+sys_time", "--",
                               "/bin/bash", "-c", shell(NOW)[2]},
                              {});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "app: setuid: Operation not permitted\n");

    root.write("/.devroot/usr-upper/sbin/hwclock", "", 0644);
    r = root.run_command(shell(NOW), {});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "app: cannot launch hwclock: Permission denied\n");
    EXPECT_TRUE(root.records().empty());
}

}  // namespace
