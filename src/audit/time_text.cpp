#include "audit/time_text.h"

#include <cstdio>

UtcText utc_text(const std::optional<struct timespec>& at) {
    UtcText utc{"?"};
    struct tm t{};
    if (!at) return utc;
    if (gmtime_r(&at->tv_sec, &t))
        std::snprintf(utc.text, sizeof utc.text, "%04lld-%02d-%02dT%02d:%02d:%02d.%09ldZ", t.tm_year + 1900LL,
                      t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, at->tv_nsec);
    else
        std::snprintf(utc.text, sizeof utc.text, "@%lld.%09ld", static_cast<long long>(at->tv_sec), at->tv_nsec);
    return utc;
}
