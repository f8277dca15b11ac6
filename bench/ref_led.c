/* Reference for `app led beeper TRIGGER`: the start, then one attribute write. */
#include <string.h>

#include "ref_common.h"

int main(int argc, char** argv) {
    ref_start();
    if (argc != 4) _exit(1);
    int fd = open("/sys/class/leds/beeper/trigger", O_WRONLY | O_CLOEXEC);
    if (fd == -1) _exit(2);
    size_t length = strlen(argv[3]);
    if (write(fd, argv[3], length) != (ssize_t)length) _exit(2);
    if (close(fd) != 0) _exit(2);
    _exit(0);
}
