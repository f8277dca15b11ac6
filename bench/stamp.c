/*
 * stamp: copies standard input to standard output, each line prefixed with
 * the CLOCK_MONOTONIC time in seconds at which it was read.
 */
#include <stdio.h>
#include <time.h>
#include <unistd.h>

int main(void) {
    char buffer[65536];
    int at_line_start = 1;
    ssize_t n;
    while ((n = read(0, buffer, sizeof buffer)) > 0) {
        struct timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        for (ssize_t i = 0; i < n; ++i) {
            if (at_line_start) printf("%lld.%09ld ", (long long)t.tv_sec, t.tv_nsec);
            putchar(buffer[i]);
            at_line_start = buffer[i] == '\n';
        }
        fflush(stdout);
    }
    return 0;
}
