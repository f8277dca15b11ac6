#include "common/failure.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <err.h>
#include <unistd.h>

#include "common/error_text.h"

namespace {

FailureNote armed_note = nullptr;

}  // namespace

bool ids_are_root() {
    uid_t real = 1, effective = 1, saved = 1;
    return getresuid(&real, &effective, &saved) == 0 && real == 0 && effective == 0 && saved == 0;
}

void note_failures(FailureNote note) { armed_note = note; }

void step_failed(const char* format, ...) {
    const ErrorText error = error_text();
    char text[PATH_MAX + 128];
    va_list ap;
    va_start(ap, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started; clang 14 loses it in glibc's checked vsnprintf
    std::vsnprintf(text, PATH_MAX + 32, format, ap);
    va_end(ap);
    const std::size_t used = std::strlen(text);
    std::snprintf(text + used, sizeof text - used, ": %s", error.text);
    // Only then can no caller signal the process that tells of the failure.
    if (armed_note && ids_are_root()) armed_note(text);
    errx(2, "%s", text);
}
