// The entry: usage, applet lookup, supervisor choice, environment clean-up.
#include "device_root.h"

#include <unistd.h>

namespace {

using devroot::DeviceRoot;
using devroot::RunOptions;

std::string usage(const std::string& program) {
    return "usage: " + program +
           " <applet> [<options>]\napplets:\n  doom\n  led\n  poweroff\n  reboot\n  service\n  time\n  watchdog\n";
}

TEST(Entry, UnknownOrMissingAppletPrintsTheTopLevelUsage) {
    REQUIRE_ROOT();
    DeviceRoot root;
    const std::vector<std::vector<std::string>> cases = {
        {}, {""}, {"LED"}, {"le"}, {"leds"}, {"reboot "}, {"Reboot", "1"}, {"help"}, {"--help"}, {"\xff"},
    };
    for (const auto& args : cases) {
        auto r = root.run(args);
        EXPECT_EQ(r.status, 1) << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(r.err, usage("app")) << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(r.out, "");
    }
}

TEST(Entry, UsageShowsArgv0AsGiven) {
    REQUIRE_ROOT();
    DeviceRoot root;
    for (const std::string argv0 : {"./app", "app", "/app/bin/../bin/app", "/app/bin/app/", "x y"}) {
        RunOptions o;
        o.argv0 = argv0;
        o.cwd = "/app/bin";
        auto r = root.run({"nosuch"}, o);
        EXPECT_EQ(r.status, 1) << argv0;
        EXPECT_EQ(r.err, usage(argv0)) << argv0;
    }
}

TEST(Entry, EmptyArgumentVectorGetsUsageWithEmptyProgramName) {
    REQUIRE_ROOT();
    SKIP_IF_EMULATED("the emulator cannot start a program with an empty argument vector");
    DeviceRoot root(true);
    RunOptions o;
    o.no_argv = true;
    o.user = "user";
    auto r = root.run({}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, usage(""));
}

// Only argv[0] exactly "/app/bin/app" is the supervisor, whatever follows it.
TEST(Entry, SupervisorOnlyForTheExactInstalledPath) {
    REQUIRE_ROOT();
    DeviceRoot root;
    RunOptions o;
    o.argv0 = "/app/bin/app";
    o.linger = 2;
    std::size_t runs = 0;
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"reboot", "0"}, {"nosuch"}}) {
        auto r = root.run(args, o);
        // The supervisor prepared the data area and, with nothing configured, ended.
        EXPECT_EQ(r.err, "app: no more children, exiting\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(root.records_of("unlock-datafs").size(), ++runs);
        EXPECT_TRUE(root.records_of("reboot").empty());
    }
}

TEST(Entry, ToolsSeeOnlyTheFixedPathWhateverTheCallerSet) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    RunOptions o;
    o.user = "user";
    o.env = {"LD_PRELOAD=/tmp/evil.so", "LD_LIBRARY_PATH=/tmp", "GCONV_PATH=/tmp", "IFS=/",
             "PATH=/tmp:/bin",          "LOCPATH=/tmp",         "MALLOC_CHECK_=3", "TZ=/tmp/tz",
             "NLSPATH=/tmp/%N",         "HOME=/tmp",            "SHELL=/tmp/sh",   "ENV=/tmp/rc"};
    o.linger = 5;
    auto r = root.run({"reboot", "0"}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    auto runs = root.records_of("reboot");
    ASSERT_EQ(runs.size(), 1u) << r.err;
    EXPECT_EQ(runs[0].all("env"), std::vector<std::string>{"PATH=/usr/bin:/usr/sbin"});
}

TEST(Entry, ToolsStartWithoutTheCallersDescriptorsOrSignalSettings) {
    REQUIRE_ROOT();
    DeviceRoot root;
    // The caller passes descriptors 3-5 and ignores SIGTERM and SIGCHLD.
    RunOptions o;
    o.linger = 5;
    auto r = root.run_command({"/bin/bash", "-c", "trap '' TERM CHLD; exec 3</etc/passwd 4>/tmp/x 5<&0; " +
                                                      devroot::shell_exec_app("app") + " reboot 0"},
                              o);
    EXPECT_EQ(r.status, 0) << r.err;
    auto runs = root.records_of("reboot");
    ASSERT_EQ(runs.size(), 1u) << r.err;
    for (const std::string& fd : runs[0].all("fd")) EXPECT_LT(std::stoi(fd), 3) << fd;
    EXPECT_EQ(runs[0].get("sigign"), "0000000000000000");
    EXPECT_EQ(runs[0].get("sigblk"), "0000000000000000");
}

}  // namespace
