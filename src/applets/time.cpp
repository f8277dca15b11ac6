// time: set the system clock, then copy it to the hardware clock.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <err.h>
#include <limits>
#include <unistd.h>

#include "applets/applets.h"
#include "common/decimal.h"
#include "common/process.h"
#include "common/root_context.h"

namespace {

constexpr long MAX_NANOSECONDS = 999999999;
constexpr char HWCLOCK_PATH[] = "/usr/sbin/hwclock";

[[noreturn]] void usage(const AppletArgs& args) {
    std::fprintf(stderr, "usage: %s %s <seconds> <nanoseconds>\n", args.program, args.args[0]);
    std::exit(1);
}

// Builds ask for a 64-bit time_t; should one still get a narrower type, a
// value it cannot hold must be refused, never cut to another date.
bool fits_time_t(long long seconds) {
    if constexpr (sizeof(time_t) >= sizeof(long long)) {
        return true;
    } else {
        return seconds >= std::numeric_limits<time_t>::min() &&
               seconds <= std::numeric_limits<time_t>::max();
    }
}

}  // namespace

int applet_time(const AppletArgs& args) {
    if (args.count != 3) usage(args);
    std::optional<long long> seconds = parse_whole_decimal64(args.args[1]);
    if (!seconds) errx(1, "cannot parse seconds parameter");
    std::optional<long> nanoseconds = parse_whole_decimal(args.args[2]);
    if (!nanoseconds) errx(1, "cannot parse nanosecond parameter");
    if (*nanoseconds < 0 || *nanoseconds > MAX_NANOSECONDS) errx(1, "nanosecond value out of range");
    if (!fits_time_t(*seconds)) errx(1, "seconds value out of range");

    const struct timespec now = {static_cast<time_t>(*seconds), *nanoseconds};
    if (clock_settime(CLOCK_REALTIME, &now) == -1) err(2, "failed to set time");

    // The clock first: hwclock copies whatever the system clock holds. It
    // runs in a child, as the service scripts do (see service.cpp).
    continue_in_waited_child();
    enter_root_context();
    execl(HWCLOCK_PATH, HWCLOCK_PATH, "--systohc", static_cast<char*>(nullptr));
    err(2, "cannot launch hwclock");
}
