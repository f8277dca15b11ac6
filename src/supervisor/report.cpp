#include "supervisor/report.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <err.h>

#include "audit/system_log.h"

namespace {

// What err(3) would print after "app: ".
struct Diagnostic {
    char text[512];
};
// Kept for ": " and the error's text after a message of any length: the
// longest the C library has is about 50 bytes.
constexpr std::size_t REASON_ROOM = 112;

// The diagnostic, also sent to the logger at `level`.
Diagnostic diagnose(int level, Reason reason, const char* format, va_list ap) {
    const int error = errno;
    Diagnostic diagnostic{};
    const std::size_t room = sizeof diagnostic.text - (reason == Reason::Errno ? REASON_ROOM : 0);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started; clang 14 loses it in glibc's checked vsnprintf
    std::vsnprintf(diagnostic.text, room, format, ap);
    if (reason == Reason::Errno) {
        const std::size_t used = std::strlen(diagnostic.text);
        errno = error;
        // glibc's %m is the text of errno, as err(3) prints it, without importing
        // strerror (one more binding by the loader at every start).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
        std::snprintf(diagnostic.text + used, sizeof diagnostic.text - used, ": %m");
#pragma GCC diagnostic pop
    }
    system_log(LOG_DAEMON | level, diagnostic.text);
    return diagnostic;
}

}  // namespace

void report(Level level, Reason reason, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    warnx("%s", diagnose(static_cast<int>(level), reason, format, ap).text);
    va_end(ap);
}

void report_exit(int status, Reason reason, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    const Diagnostic diagnostic = diagnose(LOG_ERR, reason, format, ap);
    va_end(ap);
    errx(status, "%s", diagnostic.text);
}
