#include "root/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include "common/failure.h"

namespace {

bool is_open_for(int fd, int direction) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || (flags & O_PATH) != 0) return false;
    const int mode = flags & O_ACCMODE;
    return mode == O_RDWR || mode == direction;
}

}  // namespace

// A tool that re-opens a stream by name (">/dev/stderr", "/proc/self/fd/0")
// opens its file anew, as root: it may reach only what the caller could, so a
// stream counts only when the caller opened it in the direction it is used.
void keep_safe_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        const int direction = fd == 0 ? O_RDONLY : O_WRONLY;
        if (is_open_for(fd, direction)) continue;
        // 0 to fd - 1 are open: the lowest free number is fd again.
        close(fd);
        const int null_fd = open("/dev/null", direction);
        if (null_fd != fd) step_failed("/dev/null");
    }
}
