#include "supervisor/report.h"

#include <syslog.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <err.h>

#include "audit/system_log.h"

namespace {

// The text err(3) would print after "app: ", with ": " and the error's text
// when `with_error`; errno is kept for that.
struct Line {
    char text[512];
};

Line format_line(bool with_error, const char* format, va_list ap) {
    const int error = errno;
    Line line{};
    if (!with_error) {
        // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started; clang 14 loses it in glibc's checked vsnprintf
        std::vsnprintf(line.text, sizeof line.text, format, ap);
        return line;
    }
    char message[sizeof line.text - 112];  // room for the error text
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started; clang 14 loses it in glibc's checked vsnprintf
    std::vsnprintf(message, sizeof message, format, ap);
    errno = error;
    // glibc's %m is the text of errno, as err(3) prints it, without importing
    // strerror (one more binding by the loader at every start).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
    std::snprintf(line.text, sizeof line.text, "%s: %m", message);
#pragma GCC diagnostic pop
    return line;
}

Line report(int level, bool with_error, const char* format, va_list ap) {
    Line line = format_line(with_error, format, ap);
    system_log(LOG_DAEMON | level, line.text);
    return line;
}

}  // namespace

void report_warnx(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    warnx("%s", report(LOG_WARNING, false, format, ap).text);
    va_end(ap);
}

void report_warn(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    warnx("%s", report(LOG_WARNING, true, format, ap).text);
    va_end(ap);
}

void report_notice(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    warnx("%s", report(LOG_NOTICE, false, format, ap).text);
    va_end(ap);
}

void report_err(int status, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    const Line line = report(LOG_ERR, true, format, ap);
    va_end(ap);
    errx(status, "%s", line.text);
}

void report_errx(int status, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    const Line line = report(LOG_ERR, false, format, ap);
    va_end(ap);
    errx(status, "%s", line.text);
}
