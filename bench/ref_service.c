/* Reference for `app service`: the start, then the usage in one write. */
#include <string.h>

#include "ref_common.h"

static const char TAIL[] = " {start|stop|restart} <service>\nservices:\n  gen-certs\n  modem\n"
                           "  nginx\n  ofono\n";

int main(int argc, char** argv) {
    (void)argc;
    ref_start();
    char text[4096] = "usage: ";
    size_t n = 7;
    for (int i = 0; i < 2; ++i) {
        size_t part = strnlen(argv[i], 1000);
        memcpy(text + n, argv[i], part);
        n += part;
        if (i == 0) text[n++] = ' ';
    }
    memcpy(text + n, TAIL, sizeof TAIL - 1);
    if (write(2, text, n + sizeof TAIL - 1) == -1) _exit(2);
    _exit(1);
}
