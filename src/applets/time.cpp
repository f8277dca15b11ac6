// time: set the system clock, then copy it to the hardware clock.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <err.h>
#include <unistd.h>

#include "applets/applets.h"
#include "audit/audit.h"
#include "common/decimal.h"
#include "common/kernel.h"
#include "common/process.h"
#include "common/root_context.h"

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
// Any 64-bit seconds value, the one asked for included, shows as its date.
struct UtcText {
    char text[64] = {};

    explicit UtcText(const struct timespec& at) {
        constexpr std::int64_t DAY = 86400;
        std::int64_t days = at.tv_sec / DAY, of_day = at.tv_sec % DAY;
        if (of_day < 0) of_day += DAY, --days;
        // Days since 1970-01-01 to a civil date (the proleptic Gregorian calendar).
        const std::int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
        const std::int64_t day_of_era = z - era * 146097;
        const std::int64_t year_of_era =
            (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
        const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
        const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
        const std::int64_t day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
        const std::int64_t month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
        const std::int64_t year = year_of_era + era * 400 + (month <= 2);
        std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%09ldZ", static_cast<long long>(year),
                      static_cast<int>(month), static_cast<int>(day), static_cast<int>(of_day / 3600),
                      static_cast<int>(of_day / 60 % 60), static_cast<int>(of_day % 60), at.tv_nsec);
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

    const struct timespec requested = {static_cast<time_t>(*seconds), *nanoseconds};

    identify_caller(args);
    // Set as root, in a session of its own: from its first line on, the
    // caller can neither signal it nor stop it before the clock is set. A
    // child, as for the service scripts (see service.cpp).
    continue_in_waited_child();
    enter_root_context();
    const struct timespec before = kernel_realtime();
    audit("setting clock from %s to %s", UtcText(before).text, UtcText(requested).text);
    if (clock_settime(CLOCK_REALTIME, &requested) == -1) err(2, "failed to set time");
    audit("clock set from %s to %s", UtcText(before).text, UtcText(kernel_realtime()).text);

    // hwclock copies whatever the system clock holds.
    audit("running %s --systohc", HWCLOCK_PATH);
    execl(HWCLOCK_PATH, HWCLOCK_PATH, "--systohc", static_cast<char*>(nullptr));
    err(2, "cannot launch hwclock");
}
