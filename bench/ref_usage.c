/* Reference for `app` alone: the start, then the applet list. */
#include "ref_common.h"

int main(int argc, char** argv) {
    (void)argc;
    ref_start();
    char first[4096];
    const char* parts[] = {ref_join(first, sizeof first, "usage: ", argv[0], " <applet> [<options>]\n"),
                           "applets:\n  doom\n  led\n  poweroff\n  reboot\n  service\n  time\n", "  watchdog\n"};
    ref_write_parts(parts, 3);
    _exit(1);
}
