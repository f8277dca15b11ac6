/*
 * clock-offset: prints CLOCK_REALTIME less CLOCK_BOOTTIME in nanoseconds,
 * then how far that reading may be off. Only a step of the clock changes the
 * difference: NTP slews both clocks alike, and time suspended counts in both.
 * tools/run-tests compares the figure before and after the stages.
 */
#include <stdio.h>
#include <time.h>

static long long nanoseconds(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

/* The real time read between two boot times: the closest pair of many, so
 * that a preemption in one of them does not count. */
int main(void) {
    long long offset = 0, width = -1;
    for (int i = 0; i < 1000; ++i) {
        const long long before = nanoseconds(CLOCK_BOOTTIME), real = nanoseconds(CLOCK_REALTIME),
                        after = nanoseconds(CLOCK_BOOTTIME);
        if (width < 0 || after - before < width) {
            width = after - before;
            offset = real - before - width / 2;
        }
    }
    printf("%lld %lld\n", offset, width / 2 + 1);
    return 0;
}
