// The supervisor's diagnostics: each line goes to standard error exactly as
// err(3) and warn(3) print it, and also to the system logger (facility
// daemon), since a supervisor started by init often has no one reading its
// standard error.
#pragma once

#include <syslog.h>

// The logger's level: a program restarted or disabled, or a fork that failed
// (warning); the supervisor's normal end (notice).
enum class Level { Notice = LOG_NOTICE, Warning = LOG_WARNING };

// Whether ": " and the text of errno follow the message, as in err(3) and
// warn(3), or not, as in errx(3) and warnx(3).
enum class Reason { Errno, None };

void report(Level level, Reason reason, const char* format, ...) __attribute__((format(printf, 3, 4)));

// At level err; then the supervisor (or a child before its exec) ends with `status`.
void report_exit(int status, Reason reason, const char* format, ...) __attribute__((noreturn, format(printf, 3, 4)));
