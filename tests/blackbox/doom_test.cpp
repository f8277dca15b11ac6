// doom: the game's start (argv, environment, root, parent-death signal), how
// long it runs, and failures on the game's side that leave the caller alone.
#include <algorithm>
#include <csignal>

#include "device_root.h"

namespace {

using devroot::DeviceRoot;
using devroot::RunOptions;

const std::string USAGE = "usage: app doom [seconds]\n";

#define REQUIRE_SCREEN()                                                                  \
    do {                                                                                  \
        if (!devroot::screen_available()) GTEST_SKIP() << "no screen stand-in for the emulated app"; \
    } while (0)

using devroot::give_screen;

RunOptions screen_options(const std::string& user = "") {
    RunOptions o;
    o.user = user;
    o.env = {devroot::screen_env()};
    o.linger = 3;
    return o;
}

TEST(Doom, UsageBeforeAnythingStarts) {
    REQUIRE_ROOT();
    REQUIRE_SCREEN();
    DeviceRoot root;
    give_screen(root, "800 480");
    for (std::vector<std::string> args : {std::vector<std::string>{"doom", "1", "2"}, {"doom", "5s"},
                                          {"doom", "1 "}, {"doom", ""}, {"doom", "0x1"}}) {
        auto r = root.run(args, screen_options());
        EXPECT_EQ(r.status, 1) << testing::PrintToString(args);
        EXPECT_EQ(r.err, USAGE) << testing::PrintToString(args);
    }
    EXPECT_TRUE(root.records().empty());
}

struct LaunchCase {
    std::string resolution;
    bool setuid_install;
    std::string width, height;
};

TEST(Doom, TheGameGetsTheWholeResolutionAsRoot) {
    REQUIRE_ROOT();
    REQUIRE_SCREEN();
    const LaunchCase cases[] = {
        {"800 480", false, "800", "480"},
        {"4294967295 1234567890", false, "4294967295", "1234567890"},
        {"800 480", true, "800", "480"},  // an unprivileged caller
    };
    for (const LaunchCase& c : cases) {
        DeviceRoot root(c.setuid_install);
        give_screen(root, c.resolution);
        RunOptions o = screen_options(c.setuid_install ? "user" : "");
        o.ignored = o.blocked = {SIGRTMIN + 1, SIGRTMAX};  // the game gets them at their defaults
        auto r = root.run({"doom", "1"}, o);
        EXPECT_EQ(r.status, 0) << c.resolution;
        EXPECT_EQ(r.err, "") << c.resolution;
        auto runs = root.records_of("prboom");
        ASSERT_EQ(runs.size(), 1u) << c.resolution;
        EXPECT_EQ(runs[0].all("argv"), (std::vector<std::string>{"/usr/games/prboom", "-width", c.width,
                                                                 "-height", c.height}));
        auto env = runs[0].all("env");
        std::sort(env.begin(), env.end());
        EXPECT_EQ(env, (std::vector<std::string>{"HOME=/root", "PATH=/usr/bin:/usr/sbin", "SDL_NOMOUSE=1"}));
        EXPECT_EQ(runs[0].get("ruid"), "0") << c.resolution;
        EXPECT_EQ(runs[0].get("euid"), "0") << c.resolution;
        EXPECT_EQ(runs[0].get("pdeathsig"), "15") << c.resolution;
        EXPECT_EQ(runs[0].get("sigign") + " " + runs[0].get("sigblk"), "0000000000000000 0000000000000000")
            << c.resolution;
    }
}

TEST(Doom, ATimedRunEndsTheGameThatLongAfter) {
    REQUIRE_ROOT();
    REQUIRE_SCREEN();
    DeviceRoot root;
    give_screen(root, "800 480");
    auto r = root.run({"doom", "2"}, screen_options());
    EXPECT_EQ(r.status, 0);
    EXPECT_GE(r.elapsed_ms, 2000);
    auto ends = root.records_of("prboom", "signal");
    ASSERT_EQ(ends.size(), 1u) << r.err;
    EXPECT_EQ(ends[0].get("pid"), root.records_of("prboom")[0].get("pid"));
    long after = ends[0].number("time_ms") - r.started_ms;
    EXPECT_GE(after, 2000);
    // Generous for a loaded machine: a game the applet's end did not stop would run for 100 s.
    EXPECT_LT(after, 10000);
}

TEST(Doom, WithoutAPositiveTimeItWaitsForOneCharacter) {
    REQUIRE_ROOT();
    REQUIRE_SCREEN();
    DeviceRoot root;
    give_screen(root, "800 480");
    for (const char* args : {"", "0", "-5"}) {
        std::string line = "(sleep 1; echo x; sleep 2) | " + devroot::shell_exec_app("app") + " doom " + args;
        auto r = root.run_command({"/bin/bash", "-c", line}, screen_options());
        EXPECT_EQ(r.status, 0) << args;
        auto ends = root.records_of("prboom", "signal");
        ASSERT_EQ(ends.size(), 1u) << args << r.err;
        long after = ends[0].number("time_ms") - r.started_ms;
        EXPECT_GE(after, 900) << args;
        EXPECT_LT(after, 2000) << args << ": one character is enough";
        root.write("/records/log", "");
    }
}

TEST(Doom, EndOfInputEndsItAtOnceAndNeverStrandsTheGame) {
    REQUIRE_ROOT();
    REQUIRE_SCREEN();
    DeviceRoot root;
    give_screen(root, "800 480");
    for (int run = 0; run < 20; ++run) {
        auto r = root.run({"doom"}, screen_options());
        EXPECT_EQ(r.status, 0);
        EXPECT_LT(r.elapsed_ms, 1000);
        // A game left behind has a start record and no signal record: the
        // device root's end kills it without one.
        EXPECT_EQ(root.records_of("prboom").size(), root.records_of("prboom", "signal").size())
            << "run " << run << ": the game outlived its caller";
        root.write("/records/log", "");
    }
}

struct GameSideFailure {
    std::string name;
    std::string user;
    std::string err;
};

TEST(Doom, FailuresOnTheGameSideLeaveTheCallerAlone) {
    REQUIRE_ROOT();
    REQUIRE_SCREEN();
    const GameSideFailure cases[] = {
        {"no framebuffer", "", "app: open: No such file or directory\n"},
        {"not a framebuffer", "", "app: ioctl: Inappropriate ioctl for device\n"},
        {"unprivileged without set-user-ID", "user", "app: setuid: Operation not permitted\n"},
        {"game not executable", "", "app: execl: Permission denied\n"},
    };
    for (const GameSideFailure& c : cases) {
        DeviceRoot root;
        give_screen(root, "800 480");
        if (c.name == "not a framebuffer") std::remove(root.host_path("/etc/standin/fb0").c_str());
        if (c.name == "no framebuffer") std::remove(root.host_path("/dev/fb0").c_str());
        if (c.name == "game not executable") root.write("/.devroot/usr-upper/games/prboom", "", 0644);
        auto r = root.run({"doom", "1"}, screen_options(c.user));
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_TRUE(root.records().empty()) << c.name;
    }
}

}  // namespace
