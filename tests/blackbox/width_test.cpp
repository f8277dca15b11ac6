// Values just past 32 bits. The device's long is 32 bits wide: such a value
// must saturate (and be refused or waited for accordingly), never wrap into
// a small one. The same cases hold on a 64-bit build without any saturation.
#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;

// Cut to 32 bits both would be 5, a delay in range; the parser's other
// values past 32 bits are its unit rows'.
TABLE(Width, DelaysPast32BitsAreRefusedNotWrapped) {
    return {.rows = {
        {.args = {"reboot", "4294967301"}, .status = 1, .err = DELAY_OUT_OF_RANGE},
        {.args = {"poweroff", "-4294967291"}, .status = 1, .err = DELAY_OUT_OF_RANGE},
    }};
}

// The clock call holds the whole value (Row::clock), which the kernel judges.
TABLE(Width, TimeValuesPast32BitsReachTheClockWhole) {
    const RunOptions user{.user = "user"};
    return {.rows = {
        // Cut to 32 bits: 1, in range.
        {.args = {"time", "0", "4294967297"}, .caller = user, .status = 1, .err = NANOSECONDS_OUT_OF_RANGE},
        // 2^33 + 1000 lies past the latest time the kernel accepts; cut to 32
        // bits it would be 1000, which it refuses too: the call tells them apart.
        {.args = {"time", "8589935592", "0"}, .status = 2, .err = CLOCK_REFUSED, .clock = "EINVAL 8589935592 0"},
        // 2^31 is a fine time; as a 32-bit time it would be before 1970.
        {.args = {"time", "2147483648", "0"}, .tools = {"hwclock"}, .clock = "set 2147483648 0"},
    }};
}

// No screen here: the game's side fails, the caller's wait is what counts.
// Whether the game's side has spoken by the time the caller ends is not fixed:
// standard error is not compared, but for the killed waits it shows no usage.
TABLE(Width, GameTimesPast32BitsSaturate) {
    const RunOptions killed_at{.timeout = 1.5};  // still waiting then
    const Check no_usage = [](const DeviceRoot&, const RunResult& r) {
        EXPECT_EQ(r.err.find("usage:"), std::string::npos) << r.err;
    };
    // End of input ends the wait at once; a wait wrapped into 41 years is
    // killed at 30 s (status 137).
    const RunOptions ends_by{.timeout = 30};
    return {.rows = {
        // Cut to 32 bits it would be negative: a wait for input, which is at its end.
        {.args = {"doom", "3000000000"}, .caller = killed_at, .status = 128 + 9, .err = ANY,
         .check = no_usage},
        // Cut to 32 bits it would be positive: a wait of 41 years.
        {.args = {"doom", "-3000000000"}, .caller = ends_by, .err = ANY},
    }};
}

}  // namespace
