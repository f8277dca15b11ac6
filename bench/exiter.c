/*
 * exiter: a supervised program for the restart benchmark. Started before
 * /tmp/released exists, it notes its start in /tmp/started and exits at the
 * end of its standard input (all of them at once, when the benchmark closes
 * the supervisor's). Started again after that, it waits to be killed.
 */
#include <fcntl.h>
#include <unistd.h>

int main(void) {
    if (access("/tmp/released", F_OK) == 0)
        for (;;) pause();
    int fd = open("/tmp/started", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd != -1) {
        if (write(fd, "s", 1) != 1) return 2;
        close(fd);
    }
    char c;
    while (read(0, &c, 1) > 0) {
    }
    return 0;
}
