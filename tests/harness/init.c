/*
 * devroot-init, installed as /.devroot/init: the parent of a device root's
 * command, which the app's audit line names (parent=/.devroot/init).
 *
 * usage: init [--linger S] [--result FILE] [--timeout S [--signal N]] -- command [arg...]
 *   Starts the command with descriptors 0-2 only and its own signal mask,
 *   sends it signal N (default 9) after --timeout seconds, and writes its
 *   "status=", "started_ms=" (CLOCK_MONOTONIC) and "elapsed_ms=" to
 *   --result. Then it waits up to --linger seconds for what the command left
 *   behind: as a child subreaper it inherits every orphan of the command's,
 *   and the run's helpers (the logger, the kernel log's reader) are not its
 *   children. The exit status is the command's (128 + signal when it was
 *   killed).
 */

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

__attribute__((noreturn)) static void die(const char* message) {
    fprintf(stderr, "devroot-init: %s\n", message);
    exit(125);
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* Reaps `which` (-1: any child) once it ends, waiting with SIGCHLD blocked
 * until `deadline` (0: none). Returns its pid, 0 at the deadline, or -1 once
 * no child is left (the clock keeper, which has no exit signal, never counts). */
static pid_t reap(pid_t which, int* status, double deadline, const sigset_t* chld) {
    for (;;) {
        const pid_t pid = waitpid(which, status, WNOHANG);
        if (pid != 0) return pid;
        const double left = deadline - now();
        if (deadline > 0 && left <= 0) return 0;
        const struct timespec wait = {(time_t)left, (long)((left - (double)(time_t)left) * 1e9)};
        sigtimedwait(chld, NULL, deadline > 0 ? &wait : NULL);
    }
}

static void write_result(const char* path, int status, double start) {
    FILE* f = path ? fopen(path, "we") : NULL;
    if (!f) return;
    fprintf(f, "status=%d\nstarted_ms=%.0f\nelapsed_ms=%.0f\n", status, start * 1000, (now() - start) * 1000);
    fclose(f);
}

int main(int argc, char** argv) {
    double timeout = 0, linger = 0;
    int sig = SIGKILL, i = 1;
    const char* result = NULL;
    for (; i < argc && strcmp(argv[i], "--"); ++i) {
        if (i + 1 >= argc) die("option needs a value");
        else if (!strcmp(argv[i], "--timeout")) timeout = atof(argv[++i]);
        else if (!strcmp(argv[i], "--signal")) sig = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--linger")) linger = atof(argv[++i]);
        else if (!strcmp(argv[i], "--result")) result = argv[++i];
        else die("unknown option");
    }
    if (i + 1 >= argc) die("no command");
    if (prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0) die("cannot become a subreaper");

    sigset_t chld, before;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    sigprocmask(SIG_BLOCK, &chld, &before);
    const double start = now();
    const pid_t command = fork();
    if (command == -1) die("fork");
    if (command == 0) {
        closefrom(3);  /* whatever the test runner leaked */
        sigprocmask(SIG_SETMASK, &before, NULL);
        execv(argv[i + 1], argv + i + 1);
        die("cannot execute the command");
    }
    int status = 0;
    if (reap(command, &status, timeout > 0 ? start + timeout : 0, &chld) == 0) {
        kill(command, sig);
        reap(command, &status, 0, &chld);
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    write_result(result, code, start);
    const double until = now() + linger;
    while (reap(-1, &status, until, &chld) > 0) {
    }
    return code;
}
