/* Reference for `app` alone: the start, then the applet list in one write. */
#include <string.h>

#include "ref_common.h"

static const char LIST[] = " <applet> [<options>]\napplets:\n  doom\n  led\n  poweroff\n  reboot\n"
                           "  service\n  time\n  watchdog\n";

int main(int argc, char** argv) {
    (void)argc;
    ref_start();
    char text[4096] = "usage: ";
    size_t n = 7, program = strnlen(argv[0], sizeof text - sizeof LIST - n);
    memcpy(text + n, argv[0], program);
    memcpy(text + n + program, LIST, sizeof LIST - 1);
    if (write(2, text, n + program + sizeof LIST - 1) == -1) _exit(2);
    _exit(1);
}
