#include "supervisor/report.h"

#include <syslog.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <err.h>

#include "common/system_log.h"

namespace {

// The logger's copy of the line err(3) prints: the text after "app: ".
void send(int level, bool with_error, const char* format, va_list ap) {
    const int error = errno;
    char text[512];
    const int n = std::vsnprintf(text, sizeof text, format, ap);
    if (with_error && n >= 0 && static_cast<std::size_t>(n) < sizeof text)
        std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ": %s", std::strerror(error));
    system_log(LOG_DAEMON | level, text);
    errno = error;
}

}  // namespace

#define REPORT(level, with_error, print)  \
    va_list ap, copy;                     \
    va_start(ap, format);                 \
    va_copy(copy, ap);                    \
    send(level, with_error, format, copy); \
    va_end(copy);                         \
    print;                                \
    va_end(ap)

void report_warnx(const char* format, ...) { REPORT(LOG_WARNING, false, vwarnx(format, ap)); }
void report_warn(const char* format, ...) { REPORT(LOG_WARNING, true, vwarn(format, ap)); }
void report_notice(const char* format, ...) { REPORT(LOG_NOTICE, false, vwarnx(format, ap)); }
void report_err(int status, const char* format, ...) { REPORT(LOG_ERR, true, verr(status, format, ap)); }
void report_errx(int status, const char* format, ...) { REPORT(LOG_ERR, false, verrx(status, format, ap)); }
