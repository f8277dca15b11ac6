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

}  // namespace
