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
#include "common/system_log.h"

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

// A point in time as the log shows it: 2026-12-08T17:33:36.123456789Z, or
// seconds since the epoch where the calendar year does not fit.
struct UtcText {
    char text[64];

    explicit UtcText(const struct timespec& at) {
        struct tm utc{};
        char date[40];
        if (gmtime_r(&at.tv_sec, &utc) && std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &utc) != 0)
            std::snprintf(text, sizeof text, "%s.%09ldZ", date, at.tv_nsec);
        else
            std::snprintf(text, sizeof text, "@%lld.%09ld", static_cast<long long>(at.tv_sec), at.tv_nsec);
    }
};

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
    struct timespec before{}, after{};
    clock_gettime(CLOCK_REALTIME, &before);
    if (clock_settime(CLOCK_REALTIME, &now) == -1) err(2, "failed to set time");
    clock_gettime(CLOCK_REALTIME, &after);
    identify_caller(args);
    audit("clock set from %s to %s", UtcText(before).text, UtcText(after).text);

    // The clock first: hwclock copies whatever the system clock holds. It
    // runs in a child, as the service scripts do (see service.cpp).
    continue_in_waited_child();
    enter_root_context();
    audit("running %s --systohc", HWCLOCK_PATH);
    execl(HWCLOCK_PATH, HWCLOCK_PATH, "--systohc", static_cast<char*>(nullptr));
    err(2, "cannot launch hwclock");
}
