// time: set the system clock, then copy it to the hardware clock.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <err.h>
#include <unistd.h>

#include "applets/applets.h"
#include "common/decimal.h"
#include "common/kernel.h"
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

// Any seconds value reaches the kernel as given, never cut to another date.
static_assert(sizeof(time_t) == 8, "the build asks for a 64-bit time_t (_TIME_BITS=64)");

// A point in time as the log shows it, in UTC: 2026-12-08T17:33:36.123456789Z.
struct UtcText {
    char text[160] = {};  // any 64-bit year

    explicit UtcText(const struct timespec& at) {
        constexpr long long DAY = 86400;
        // Every time the kernel keeps (up to the year 2262) has its day number in 32 bits.
        const long days = static_cast<long>(at.tv_sec / DAY - (at.tv_sec % DAY < 0));
        const long of_day = static_cast<long>(at.tv_sec - static_cast<long long>(days) * DAY);
        // Days since 1970-01-01 to a civil date (the proleptic Gregorian calendar).
        const long z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
        const long day_of_era = z - era * 146097;
        const long year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
        const long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
        const long shifted_month = (5 * day_of_year + 2) / 153;
        const long day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
        const long month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
        const long year = year_of_era + era * 400 + (month <= 2);
        std::snprintf(text, sizeof text, "%04ld-%02ld-%02ldT%02ld:%02ld:%02ld.%09ldZ", year, month, day, of_day / 3600,
                      of_day / 60 % 60, of_day % 60, at.tv_nsec);
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

    const struct timespec now = {static_cast<time_t>(*seconds), *nanoseconds};
    const struct timespec before = kernel_realtime();
    if (clock_settime(CLOCK_REALTIME, &now) == -1) err(2, "failed to set time");
    const struct timespec after = kernel_realtime();
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
