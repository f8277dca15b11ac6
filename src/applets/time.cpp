// time: set the system clock, then copy it to the hardware clock.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <err.h>

#include "applets/applets.h"
#include "applets/root_tool.h"
#include "audit/audit.h"
#include "audit/time_text.h"
#include "audit/tool_lines.h"
#include "common/decimal.h"
#include "common/error_text.h"
#include "process/tool_process.h"
#include "root/root_context.h"

namespace {

constexpr long MAX_NANOSECONDS = 999999999;
constexpr char HWCLOCK_PATH[] = "/usr/sbin/hwclock";

[[noreturn]] void usage(const AppletArgs& args) {
    std::fprintf(stderr, "usage: %s %s <seconds> <nanoseconds>\n", args.program, args.args[0]);
    std::exit(1);
}

// Any seconds value reaches the kernel as given, never cut to another date.
static_assert(sizeof(time_t) == 8, "the build asks for a 64-bit time_t (_TIME_BITS=64)");

// The clock; nothing where it cannot be read.
std::optional<struct timespec> now() {
    struct timespec value{};
    if (clock_gettime(CLOCK_REALTIME, &value) != 0) return std::nullopt;
    return value;
}

}  // namespace

int applet_time(const AppletArgs& args) {
    if (args.count != 3) usage(args);
    std::optional<long long> seconds = parse_whole_decimal64(args.args[1]);
    if (!seconds) errx(1, "cannot parse seconds parameter");
    std::optional<long> nanoseconds = parse_whole_decimal(args.args[2]);
    if (!nanoseconds) errx(1, "cannot parse nanosecond parameter");
    if (*nanoseconds < 0 || *nanoseconds > MAX_NANOSECONDS) errx(1, "nanosecond value out of range");

    const struct timespec requested = {static_cast<time_t>(*seconds), *nanoseconds};
    require_root();

    // Set as root, in a session of its own: from its first line on, the
    // caller can neither signal it nor stop it before the clock is set. A
    // child, as for the service scripts (see service.cpp).
    name_tool("%s --systohc", HWCLOCK_PATH);
    fork_tool_process();
    enter_root_context();
    const std::optional<struct timespec> before = now();
    audit("setting clock from %s to %s", utc_text(before).text, utc_text(requested).text);
    if (clock_settime(CLOCK_REALTIME, &requested) == -1) {
        const ErrorText refused = error_text();
        audit("clock not set to %s: %s", utc_text(requested).text, refused.text);
        errx(2, "failed to set time: %s", refused.text);
    }
    audit("clock set from %s to %s", utc_text(before).text, utc_text(now()).text);

    // hwclock copies whatever the system clock holds.
    char* const argv[] = {const_cast<char*>(HWCLOCK_PATH), const_cast<char*>("--systohc"), nullptr};
    run_root_tool(argv, "cannot launch hwclock");
}
