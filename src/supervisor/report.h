// The supervisor's diagnostics: each line goes to standard error exactly as
// err(3) and warn(3) print it, and also to the system logger (facility
// daemon), since a supervisor started by init often has no one reading its
// standard error.
#pragma once

// Level warning: a program restarted or disabled, a fork that failed.
void report_warnx(const char* format, ...) __attribute__((format(printf, 1, 2)));
void report_warn(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Level notice: the supervisor ends normally.
void report_notice(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Level err: the supervisor (or a child before its exec) ends with `status`.
void report_err(int status, const char* format, ...) __attribute__((noreturn, format(printf, 2, 3)));
void report_errx(int status, const char* format, ...) __attribute__((noreturn, format(printf, 2, 3)));
