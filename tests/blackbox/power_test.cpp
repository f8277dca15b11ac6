// poweroff and reboot: argument checks, the background child, root for the tool.
#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;

// The waiting child gets this long to start its tool after the caller
// returned; the run ends as soon as it has.
const RunOptions LINGER{.linger = 30};
const RunOptions USER_LINGER{.user = "user", .linger = 30};

TABLE(Power, DelayIsCheckedBeforeAnythingIsScheduled) {
    return {.rows = {
        {.args = {"reboot", "3601"}, .status = 1, .err = DELAY_OUT_OF_RANGE},
        {.args = {"reboot", "-1"}, .status = 1, .err = DELAY_OUT_OF_RANGE},
        {.args = {"reboot", "5s"}, .status = 1, .err = DELAY_UNPARSED},
        {.args = {"reboot"}, .status = 1, .err = delay_usage("reboot")},
        {.args = {"reboot", "1", "2"}, .status = 1, .err = delay_usage("reboot")},
        {.args = {"poweroff", "1", "2"}, .status = 1, .err = delay_usage("poweroff")},
    }};
}

TABLE(Power, AcceptedDelaysReturnAtOnce) {
    // Generous for a loaded machine: a caller kept for the 5 s delay would exceed it.
    const Check returns = [](const DeviceRoot&, const RunResult& r) { EXPECT_LT(r.elapsed_ms, 4000); };
    return {.rows = {
        {.args = {"reboot", "3600"}, .check = returns},
        {.args = {"reboot", "+5"}, .check = returns},
    }};
}

// Run with no arguments, at once, and not tied to its caller.
Check ran_at_once(const std::string& applet) {
    return [=](const DeviceRoot& root, const RunResult& r) {
        // A zero delay that still slept a whole second would reach 1000 ms.
        Record run = record_within(root, r, applet, 0, 1000);
        EXPECT_EQ(run.all("argv"), Strings{"/usr/sbin/" + applet});
        EXPECT_EQ(run.get("k.prctl.pdeathsig"), "0") << "the tool must outlive its caller";
    };
}

TABLE(Power, ZeroDelayRunsTheToolAtOnceWithNoArguments) {
    return {.rows = {
        {.args = {"poweroff", "0"}, .caller = LINGER, .tools = {"poweroff"}, .check = ran_at_once("poweroff")},
        {.args = {"reboot", "0"}, .caller = LINGER, .tools = {"reboot"}, .check = ran_at_once("reboot")},
    }};
}

TABLE(Power, SetUserIdInstallRunsTheToolAsRootAfterTheDelay) {
    const Check as_root_after_the_delay = [](const DeviceRoot& root, const RunResult& r) {
        // Generous for a loaded machine: a delay read as ten seconds or more would exceed it.
        Record run = record_within(root, r, "reboot", 1000, 10000);
        // The caller had its answer before the tool ran, not after the delay.
        EXPECT_LT(r.elapsed_ms, r.since_start(run));
        EXPECT_EQ(run.ids(), "0 0 0 0/0 0 0 0/");
    };
    return {.rows = {{.args = {"reboot", "1"}, .caller = USER_LINGER, .tools = {"reboot"},
                      .check = as_root_after_the_delay}},
            .setuid = true};
}

// The waiting child keeps the dispositions its caller chose: under nohup a
// hang-up leaves the scheduled reboot alone, otherwise it ends the wait.
// kill -1 reaches every process of the caller's but itself: the waiting
// child, once it sleeps (state S), past anything it sets up first. Under
// the user-mode emulator that process is named after the emulator.
Strings hang_up_during_the_wait(bool ignored) {
    return {"/bin/bash", "-c",
            std::string(ignored ? "trap '' HUP; " : "") + "(" + shell_exec_app("app") +
                " reboot 2); until grep -qs '^[0-9]* (\\(app\\|emulator\\)) S' /proc/[0-9]*/stat; do :; done; kill -HUP -1"};
}

TABLE(Power, TheWaitSurvivesAHangUpOnlyWhenTheCallerIgnoresIt) {
    const Check after_the_delay = [](const DeviceRoot& root, const RunResult& r) {
        // Generous for a loaded machine: a delay read as ten seconds or more would exceed it.
        Record run = record_within(root, r, "reboot", 2000, 10000);
        EXPECT_EQ(run.get("k.status.SigIgn"), "0000000000000000") << "the tool starts with default dispositions";
    };
    return {.rows = {
        {.label = "SIGHUP ignored", .caller = USER_LINGER, .command = hang_up_during_the_wait(true),
         .tools = {"reboot"}, .check = after_the_delay},
        {.label = "SIGHUP at its default", .caller = USER_LINGER, .command = hang_up_during_the_wait(false)},
    },
            .setuid = true};
}

// Without root nothing is scheduled: status 2 at once. The caller has
// returned 0 before the child finds it cannot run the tool.
TABLE(Power, TheChildReportsWhatKeepsTheToolFromRunning) {
    return {.rows = {
        {.label = "no root without the set-user-ID install", .args = {"poweroff", "0"}, .caller = USER_LINGER,
         .status = 2, .err = NOT_ROOT},
        {.label = "tool not executable", .args = {"reboot", "0"}, .caller = LINGER, .err = EXEC_REFUSED,
         .setup = [](const DeviceRoot& root) { root.write("/usr/sbin/reboot", "", 0644); }},
    }};
}

}  // namespace
