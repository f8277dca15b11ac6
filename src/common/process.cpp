#include "common/process.h"

#include <cerrno>
#include <err.h>
#include <unistd.h>

void sleep_whole_seconds(time_t seconds) {
    struct timespec remaining = {seconds, 0};
    while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
    }
}

void become_root() {
    if (setuid(0) != 0) err(2, "setuid");
}
