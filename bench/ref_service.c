/* Reference for `app service`: the start, then the usage with the services. */
#include "ref_common.h"

int main(int argc, char** argv) {
    (void)argc;
    ref_start();
    char program[2048], first[4096];
    ref_join(program, sizeof program, argv[0], " ", argv[1]);
    const char* parts[] = {ref_join(first, sizeof first, "usage: ", program, " {start|stop|restart} <service>\n"),
                           "services:\n  gen-certs\n  modem\n  nginx\n", "  ofono\n"};
    ref_write_parts(parts, 3);
    _exit(1);
}
