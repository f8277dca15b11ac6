#include "audit/tool_lines.h"

#include <sys/wait.h>

#include <cstdarg>
#include <cstdio>

#include "audit/audit.h"
#include "audit/log_text.h"

namespace {

// Zeroed, not stored in the executable.
char tool[LOG_LINE_MAX_BYTES / 4];

}  // namespace

void name_tool(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started; clang 14 loses it in glibc's checked vsnprintf
    std::vsnprintf(tool, sizeof tool, format, ap);
    va_end(ap);
}

void audit_running() { audit("running %s", tool); }

void audit_not_run(const char* diagnostic) { audit("cannot run %s: %s", tool, diagnostic); }

void audit_end(int status) {
    if (WIFEXITED(status)) audit("%s exited with status %d", tool, WEXITSTATUS(status));
    else audit("%s killed by signal %d", tool, WTERMSIG(status));
}
