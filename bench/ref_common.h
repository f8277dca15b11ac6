/*
 * What every start of app does before its applet runs, written as plainly as
 * C allows: the same system calls in the same order. The references below add
 * only their applet's own system calls.
 */
#ifndef REF_COMMON_H
#define REF_COMMON_H

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static void ref_start(void) {
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd) _exit(2);
    closefrom(3);
    umask(umask(0) | 022);
    signal(SIGTERM, SIG_DFL);
    signal(SIGCHLD, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, NULL);
    if (clearenv() != 0) _exit(2);
    if (setenv("PATH", "/usr/bin:/usr/sbin", 1) == -1) _exit(2);
}

/* Joins up to three texts into `out` (of `size` bytes); returns `out`. */
static inline char* ref_join(char* out, size_t size, const char* a, const char* b, const char* c) {
    size_t n = 0;
    for (const char* part = a; part; part = part == a ? b : part == b ? c : NULL) {
        size_t length = strnlen(part, size - 1 - n);
        memcpy(out + n, part, length);
        n += length;
    }
    out[n] = '\0';
    return out;
}

/* Writes each of `parts` to stderr in its own write, as app's line-buffered
 * stderr does: a chunk ends at the last newline of each piece it formats. */
static inline void ref_write_parts(const char* const* parts, int count) {
    for (int i = 0; i < count; ++i)
        if (write(2, parts[i], strlen(parts[i])) == -1) _exit(2);
}

#endif
