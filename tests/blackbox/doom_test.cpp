// doom: the game's start (argv, environment, root, parent-death signal), how
// long it runs, and failures on the game's side that leave the caller alone.
#include <algorithm>
#include <csignal>
#include <cstdio>

#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;

RunOptions screen_options(const std::string& user = "") {
    return {.user = user, .env = {screen_env()}, .linger = 30};
}

// The root's screen has `resolution`; `also` then changes the root.
Setup screen(const std::string& resolution = "800 480", const Setup& also = nullptr) {
    return [=](const DeviceRoot& root) {
        give_screen(root, resolution);
        if (also) also(root);
    };
}
Setup screen_without(const std::string& path) {
    return screen("800 480", [=](const DeviceRoot& root) { std::remove(root.host_path(path).c_str()); });
}

TABLE(Doom, UsageBeforeAnythingStarts) {
    std::vector<Row> rows;
    for (const Strings& args :
         {Strings{"doom", "1", "2"}, {"doom", "5s"}, {"doom", "1 "}, {"doom", ""}, {"doom", "0x1"}})
        rows.push_back({.args = args, .caller = screen_options(), .status = 1, .err = DOOM_USAGE});
    return {.rows = rows, .prepare = screen(), .needs = screen_needed};
}

// The game ran as root with the screen's whole resolution and its own
// environment, tied to the applet, with every signal at its default.
Check game_started(const std::string& width, const std::string& height) {
    return [=](const DeviceRoot& root, const RunResult&) {
        auto runs = root.records_of("prboom");
        ASSERT_FALSE(runs.empty());
        EXPECT_EQ(runs[0].all("argv"), (Strings{"/usr/games/prboom", "-width", width, "-height", height}));
        Strings env = runs[0].all("env");
        std::sort(env.begin(), env.end());
        EXPECT_EQ(env, GAME_ENVIRONMENT);
        EXPECT_EQ(runs[0].ids(), "0 0 0 0/0 0 0 0/") << width;
        EXPECT_EQ(runs[0].get("k.prctl.pdeathsig"), "15") << width;
        EXPECT_EQ(runs[0].signals(), "0000000000000000 0000000000000000") << width;
    };
}

// Real-time signals the caller ignored and blocked.
RunOptions realtime_signals_set_aside(RunOptions o) {
    o.ignored = o.blocked = {SIGRTMIN + 1, SIGRTMAX};
    return o;
}

TABLE(Doom, TheGameGetsTheWholeResolutionAsRoot) {
    const RunOptions root_caller = realtime_signals_set_aside(screen_options());
    const Strings args{"doom", "1"};
    return {.rows = {
        {.label = "800 480", .args = args, .caller = root_caller, .tools = {"prboom"}, .setup = screen(),
         .check = game_started("800", "480")},
        {.label = "4294967295 1234567890", .args = args, .caller = root_caller, .tools = {"prboom"},
         .setup = screen("4294967295 1234567890"), .check = game_started("4294967295", "1234567890")},
    },
            .needs = screen_needed};
}
TABLE(Doom, TheGameGetsTheWholeResolutionAsRootForAnyCaller) {
    return {.rows = {{.label = "an unprivileged caller", .args = {"doom", "1"},
                      .caller = realtime_signals_set_aside(screen_options("user")), .tools = {"prboom"},
                      .setup = screen(), .check = game_started("800", "480")}},
            .setuid = true, .needs = screen_needed};
}

// The game that started got its one SIGTERM `from` ms or more, and less than
// `to`, after the app's start.
Check game_ended(long from, long to) {
    return [=](const DeviceRoot& root, const RunResult& r) {
        auto starts = root.records_of("prboom");
        auto ends = root.records_of("prboom", "signal");
        ASSERT_FALSE(starts.empty());
        ASSERT_EQ(ends.size(), 1u) << r.err;
        EXPECT_EQ(ends[0].get("pid"), starts[0].get("pid"));
        record_within(root, r, "prboom", from, to, "signal");
    };
}

TABLE(Doom, ATimedRunEndsTheGameThatLongAfter) {
    // Generous for a loaded machine: a game the applet's end did not stop would run for 100 s.
    const Check ended = game_ended(2000, 10000);
    return {.rows = {{.args = {"doom", "2"}, .caller = screen_options(), .tools = {"prboom"}, .setup = screen(),
                      .check = [=](const DeviceRoot& root, const RunResult& r) {
                          EXPECT_GE(r.elapsed_ms, 2000);
                          ended(root, r);
                      }}},
            .needs = screen_needed};
}

// The writer sends one character once the game runs, and ends its output
// only once the game has ended: an applet that waited for the end of input
// would wait for ever (the caller's timeout). One character is enough.
TABLE(Doom, WithoutAPositiveTimeItWaitsForOneCharacter) {
    const std::string writer = "until grep -qs $'tool=prboom\tevent=start' /records/log; do sleep 0.05; done; "
                               "echo x; "
                               "until grep -qs $'tool=prboom\tevent=signal' /records/log; do sleep 0.05; done";
    const Check ended = game_ended(0, 60000);
    RunOptions caller = screen_options();
    caller.timeout = 60;
    std::vector<Row> rows;
    for (const std::string args : {"", "0", "-5"})
        rows.push_back({.label = "doom " + args, .caller = caller,
                        .command = {"/bin/bash", "-c", "(" + writer + ") | " + shell_exec_app("app") + " doom " + args},
                        .tools = {"prboom"}, .check = ended});
    return {.rows = rows, .prepare = screen(), .needs = screen_needed};
}

// Whether the game started before the applet ended varies from run to run;
// a game left behind has a start record and no signal record (the device
// root's end kills it without one).
TEST(Doom, EndOfInputEndsItAtOnceAndNeverStrandsTheGame) {
    REQUIRE_ROOT();
    if (!screen_available()) GTEST_SKIP() << screen_needed();
    DeviceRoot root;
    screen()(root);
    for (int run = 0; run < 20; ++run) {
        auto r = root.run({"doom"}, screen_options());
        EXPECT_EQ(r.status, 0);
        // Generous for a loaded machine: end of file ends the wait at once, not ten seconds later.
        EXPECT_LT(r.elapsed_ms, 10000);
        EXPECT_EQ(root.records_of("prboom").size(), root.records_of("prboom", "signal").size())
            << "run " << run << ": the game outlived its caller";
        root.write("/records/log", "");
    }
}

TABLE(Doom, FailuresOnTheGameSideLeaveTheCallerAlone) {
    const Strings args{"doom", "1"};
    return {.rows = {
        {.label = "no framebuffer", .args = args, .caller = screen_options(),
         .err = said("open: No such file or directory"), .setup = screen_without("/dev/fb0")},
        {.label = "not a framebuffer", .args = args, .caller = screen_options(), .err = NO_SCREEN,
         .setup = screen_without("/etc/standin/fb0")},
        // Refused at once: the game could never start.
        {.label = "unprivileged without set-user-ID", .args = args, .caller = screen_options("user"), .status = 2,
         .err = NOT_ROOT, .setup = screen()},
        {.label = "game not executable", .args = args, .caller = screen_options(), .err = EXEC_REFUSED,
         .setup = screen("800 480", [](const DeviceRoot& root) { root.write("/usr/games/prboom", "", 0644); })},
    },
            .needs = screen_needed};
}

}  // namespace
