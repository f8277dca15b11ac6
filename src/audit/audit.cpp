#include "audit/audit.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>

#include "audit/caller.h"
#include "audit/log_text.h"
#include "audit/system_log.h"

void audit(const char* format, ...) {
    char what[LOG_LINE_MAX_BYTES / 2 - 32];
    va_list ap;
    va_start(ap, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started; clang 14 loses it in glibc's checked vsnprintf
    std::vsnprintf(what, sizeof what, format, ap);
    va_end(ap);
    LogText line{{}, 0, LOG_LINE_MAX_BYTES - 1};
    append(line, what);
    append(line, ": ");
    append(line, caller_text());
    system_log(LOG_AUTHPRIV | LOG_NOTICE, line.data);
}
