// A point in time as audit lines show it.
#pragma once

#include <ctime>
#include <optional>

struct UtcText {
    char text[48];
};

// In UTC: 2026-12-08T17:33:36.123456789Z; one past any calendar year as
// seconds since the epoch: @9223372036854775807.000000000; "?" for a time
// the clock could not give.
UtcText utc_text(const std::optional<struct timespec>& at);
