// Values just past 32 bits. The device's long is 32 bits wide: such a value
// must saturate (and be refused or waited for accordingly), never wrap into
// a small one. The same cases hold on a 64-bit build without any saturation.
#include "device_root.h"

namespace {

using devroot::DeviceRoot;
using devroot::RunOptions;

TEST(Width, DelaysPast32BitsAreRefusedNotWrapped) {
    REQUIRE_ROOT();
    DeviceRoot root;
    const std::string range = "app: seconds outside of [0, 3600] interval\n";
    // Cut to 32 bits these would be INT_MIN, 0, 5 and 5 again.
    for (const char* delay : {"2147483648", "4294967296", "4294967301", "-4294967291"}) {
        for (const char* applet : {"reboot", "poweroff"}) {
            auto r = root.run({applet, delay});
            EXPECT_EQ(r.status, 1) << applet << " " << delay;
            EXPECT_EQ(r.err, range) << applet << " " << delay;
        }
    }
    EXPECT_TRUE(root.records().empty());
}

struct TimeCase {
    std::vector<std::string> args;
    int status;
    std::string err;
};

// Run without the right to set the clock, so the clock never moves: the
// kernel still checks the value it got before it checks the caller's right.
TEST(Width, TimeValuesPast32BitsReachTheClockWhole) {
    REQUIRE_ROOT();
    DeviceRoot root;
    const std::string range = "app: nanosecond value out of range\n";
    const TimeCase cases[] = {
        // Cut to 32 bits: INT_MIN, 0 and 1, the last two in range.
        {{"time", "0", "2147483648"}, 1, range},
        {{"time", "0", "4294967296"}, 1, range},
        {{"time", "0", "4294967297"}, 1, range},
        // 2^33 + 1000 lies past the latest time the kernel accepts; cut to 32
        // bits it would be 1000, a time only the caller's right could refuse.
        {{"time", "8589935592", "0"}, 2, "app: failed to set time: Invalid argument\n"},
        // 2^31 is a fine time; as a 32-bit time it would be before 1970.
        {{"time", "2147483648", "0"}, 2, "app: failed to set time: Operation not permitted\n"},
    };
    RunOptions o;
    o.user = "user";
    for (const TimeCase& c : cases) {
        auto r = root.run(c.args, o);
        EXPECT_EQ(r.status, c.status) << c.args[1] << " " << c.args[2];
        EXPECT_EQ(r.err, c.err) << c.args[1] << " " << c.args[2];
    }
    EXPECT_TRUE(root.records().empty());
}

// No screen here: the game's side fails, the caller's wait is what counts.
TEST(Width, GameTimesPast32BitsSaturate) {
    REQUIRE_ROOT();
    DeviceRoot root;
    RunOptions o;
    o.timeout = 1.5;  // still waiting then: killed
    // Cut to 32 bits the first two would be negative: a wait for input, which is at its end.
    for (const char* seconds : {"3000000000", "4294967295", "99999999999999999999"}) {
        auto r = root.run({"doom", seconds}, o);
        EXPECT_EQ(r.status, 128 + 9) << seconds << ": " << r.err;
        EXPECT_EQ(r.err.find("usage:"), std::string::npos) << seconds;
    }
    // Cut to 32 bits these would be positive: a wait of 41 years or 96 s.
    o.timeout = 10;
    for (const char* seconds : {"-3000000000", "-4294967200"}) {
        auto r = root.run({"doom", seconds}, o);
        EXPECT_EQ(r.status, 0) << seconds << ": " << r.err;
        EXPECT_LT(r.elapsed_ms, 2000) << seconds;
    }
}

}  // namespace
