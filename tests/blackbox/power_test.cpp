// poweroff and reboot: argument checks, the background child, root for the tool.
#include "device_root.h"

namespace {

using devroot::DeviceRoot;
using devroot::RunOptions;

struct DelayCase {
    std::vector<std::string> args;
    int status;
    std::string err;  // after "app: "
};

TEST(Power, DelayIsCheckedBeforeAnythingIsScheduled) {
    REQUIRE_ROOT();
    DeviceRoot root;
    const std::string range = "app: seconds outside of [0, 3600] interval\n";
    const std::string parse = "app: cannot parse seconds\n";
    const DelayCase cases[] = {
        {{"reboot", "3601"}, 1, range},
        {{"reboot", "-1"}, 1, range},
        {{"poweroff", "99999999999999999999"}, 1, range},
        {{"poweroff", "-99999999999999999999"}, 1, range},
        {{"reboot", "5s"}, 1, parse},
        {{"reboot", ""}, 1, parse},
        {{"reboot", " "}, 1, parse},
        {{"reboot", "1.0"}, 1, parse},
        {{"reboot", "5 "}, 1, parse},
        {{"reboot"}, 1, "usage: app reboot <seconds>\n"},
        {{"reboot", "1", "2"}, 1, "usage: app reboot <seconds>\n"},
        {{"poweroff", "1", "2"}, 1, "usage: app poweroff <seconds>\n"},
    };
    for (const DelayCase& c : cases) {
        auto r = root.run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "");
        EXPECT_EQ(r.err, c.err) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "");
    }
    EXPECT_TRUE(root.records().empty());
}

TEST(Power, AcceptedDelaysReturnAtOnce) {
    REQUIRE_ROOT();
    DeviceRoot root;
    for (const char* delay : {"3600", "+5", " 5", "0005"}) {
        auto r = root.run({"reboot", delay});
        EXPECT_EQ(r.status, 0) << delay;
        EXPECT_EQ(r.err, "") << delay;
        EXPECT_LT(r.elapsed_ms, 500) << delay;
    }
}

TEST(Power, ZeroDelayRunsTheToolAtOnceWithNoArguments) {
    REQUIRE_ROOT();
    DeviceRoot root;
    RunOptions o;
    o.linger = 5;
    for (const char* applet : {"poweroff", "reboot"}) {
        auto r = root.run({applet, "0"}, o);
        EXPECT_EQ(r.status, 0);
        auto runs = root.records_of(applet);
        ASSERT_EQ(runs.size(), 1u) << applet << r.err;
        EXPECT_EQ(runs[0].all("argv"), std::vector<std::string>{std::string("/usr/sbin/") + applet});
        EXPECT_LT(runs[0].number("time_ms") - r.started_ms, 900) << applet;
        EXPECT_EQ(runs[0].get("pdeathsig"), "0") << "the tool must outlive its caller";
    }
}

TEST(Power, SetUserIdInstallRunsTheToolAsRootAfterTheDelay) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    RunOptions o;
    o.user = "user";
    o.linger = 5;
    auto r = root.run({"reboot", "1"}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_LT(r.elapsed_ms, 500);
    auto runs = root.records_of("reboot");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].get("ruid"), "0");
    EXPECT_EQ(runs[0].get("euid"), "0");
    long after = runs[0].number("time_ms") - r.started_ms;
    EXPECT_GE(after, 1000);
    EXPECT_LT(after, 2500);
}

// The waiting child keeps the dispositions its caller chose: under nohup a
// hang-up leaves the scheduled reboot alone, otherwise it ends the wait.
TEST(Power, TheWaitSurvivesAHangUpOnlyWhenTheCallerIgnoresIt) {
    REQUIRE_ROOT();
    for (bool ignored : {true, false}) {
        DeviceRoot root(true);
        RunOptions o;
        o.user = "user";
        o.linger = 5;
        // kill -1 reaches every process of the caller's but itself: the waiting child.
        const std::string line = std::string(ignored ? "trap '' HUP; " : "") + "(" +
                                 devroot::shell_exec_app("app") + " reboot 2); sleep 0.5; kill -HUP -1";
        auto r = root.run_command({"/bin/bash", "-c", line}, o);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        auto runs = root.records_of("reboot");
        ASSERT_EQ(runs.size(), ignored ? 1u : 0u) << "SIGHUP ignored: " << ignored;
        if (!ignored) continue;
        long after = runs[0].number("time_ms") - r.started_ms;
        EXPECT_GE(after, 2000);
        EXPECT_LT(after, 3500);
        EXPECT_EQ(runs[0].get("sigign"), "0000000000000000") << "the tool starts with default dispositions";
    }
}

TEST(Power, WithoutRootTheChildReportsSetuidAndTheCallerStillSucceeds) {
    REQUIRE_ROOT();
    DeviceRoot root(false);
    RunOptions o;
    o.user = "user";
    o.linger = 5;
    auto r = root.run({"poweroff", "0"}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "app: setuid: Operation not permitted\n");
    EXPECT_TRUE(root.records().empty());
}

TEST(Power, MissingToolIsReportedByTheChild) {
    REQUIRE_ROOT();
    DeviceRoot root;
    std::remove(root.host_path("/.devroot/usr-upper/sbin/reboot").c_str());
    root.write("/.devroot/usr-upper/sbin/reboot", "", 0644);  // present but not executable
    RunOptions o;
    o.linger = 5;
    auto r = root.run({"reboot", "0"}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "app: execl: Permission denied\n");
}

}  // namespace
