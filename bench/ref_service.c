/* Reference for `app service`: the start, naming the caller as every audited
 * applet does before it looks at its arguments, then the usage with the
 * services. */
#include <stdio.h>

#include "ref_common.h"

/* Reads PATH to its end, a line at a time, as app reads its small files. */
static void ref_read_lines(const char* path) {
    char line[1024];
    FILE* f = fopen(path, "re");
    if (!f) return;
    while (fgets(line, sizeof line, f)) {
    }
    fclose(f);
}

/* What app reads to name its caller (src/audit/caller_facts.cpp): its user
 * namespace, its user id (and, outside the initial namespace only, how the
 * namespace maps it), the audit login user id and session, the account's line
 * in /etc/passwd, its own and its parent's process ids and the parent's
 * executable. */
static void ref_identify_caller(void) {
    char line[1024], id[16], link[32], path[4096];
    const ssize_t ns = readlinkat(AT_FDCWD, "/proc/self/ns/user", link, sizeof link);
    const int initial = ns == 17 && memcmp(link, "user:[4026531837]", 17) == 0;
    const unsigned uid = getuid();
    ref_read_lines("/proc/self/loginuid");
    ref_read_lines("/proc/self/sessionid");
    if (!initial) ref_read_lines("/proc/self/uid_map");
    FILE* passwd = fopen("/etc/passwd", "re");
    if (passwd) {
        const int length = snprintf(id, sizeof id, ":%u:", uid);
        while (fgets(line, sizeof line, passwd)) {
            const char* after_name = strchr(line, ':');
            const char* after_password = after_name ? strchr(after_name + 1, ':') : NULL;
            if (after_password && strncmp(after_password, id, (size_t)length) == 0) break;
        }
        fclose(passwd);
    }
    (void)getpid();
    snprintf(link, sizeof link, "/proc/%d/exe", (int)getppid());
    if (readlinkat(AT_FDCWD, link, path, sizeof path - 1) < 0) path[0] = '\0';
}

int main(int argc, char** argv) {
    (void)argc;
    ref_start();
    ref_identify_caller();
    char program[2048], first[4096];
    ref_join(program, sizeof program, argv[0], " ", argv[1]);
    const char* parts[] = {ref_join(first, sizeof first, "usage: ", program, " {start|stop|restart} <service>\n"),
                           "services:\n  gen-certs\n  modem\n  nginx\n", "  ofono\n"};
    ref_write_parts(parts, 3);
    _exit(1);
}
