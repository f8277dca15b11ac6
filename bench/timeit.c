/*
 * timeit: wall time of whole program runs, start to reaped end.
 *
 *   timeit RUNS WARMUP -- COMMAND [ARG...] [-- COMMAND [ARG...]]...
 *
 * The commands take turns, one run each per round and a different one first
 * in each round, so that a busy machine slows them alike; WARMUP rounds are
 * run first and not counted. Every run gets /dev/null as its standard streams.
 * Prints one line per command: median p10 p90 min max (microseconds) and the
 * command's exit status.
 */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define MAX_COMMANDS 8

extern char** environ;

static double now_us(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

static int compare(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static double run_once(char** argv, const posix_spawn_file_actions_t* actions, int* status) {
    pid_t pid;
    double start = now_us();
    if (posix_spawn(&pid, argv[0], actions, NULL, argv, environ) != 0) {
        perror(argv[0]);
        exit(125);
    }
    if (waitpid(pid, status, 0) != pid) {
        perror("waitpid");
        exit(125);
    }
    return now_us() - start;
}

static double at(const double* sorted, int n, double fraction) {
    return sorted[(int)(fraction * (n - 1) + 0.5)];
}

int main(int argc, char** argv) {
    if (argc < 5 || strcmp(argv[3], "--") != 0) {
        fprintf(stderr, "usage: timeit RUNS WARMUP -- COMMAND [ARG...] [-- COMMAND...]\n");
        return 1;
    }
    int runs = atoi(argv[1]), warmup = atoi(argv[2]), count = 0;
    if (runs < 1) runs = 1;
    char** commands[MAX_COMMANDS];
    for (int i = 3; i < argc && count < MAX_COMMANDS; ++i) {
        if (strcmp(argv[i], "--") != 0) continue;
        argv[i] = NULL;  // ends the previous command's argument vector
        if (i + 1 < argc) commands[count++] = argv + i + 1;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd ? O_WRONLY : O_RDONLY, 0);

    double* samples = calloc((size_t)(count * runs), sizeof *samples);
    int status[MAX_COMMANDS];
    if (!samples) return 125;
    for (int round = -warmup; round < runs; ++round)
        for (int i = 0; i < count; ++i) {
            int c = (i + round + warmup) % count;  // each command leads a round in turn
            double t = run_once(commands[c], &actions, &status[c]);
            if (round >= 0) samples[c * runs + round] = t;
        }

    for (int c = 0; c < count; ++c) {
        double* s = samples + c * runs;
        qsort(s, (size_t)runs, sizeof *s, compare);
        printf("%.1f %.1f %.1f %.1f %.1f %d\n", at(s, runs, 0.5), at(s, runs, 0.1), at(s, runs, 0.9), s[0],
               s[runs - 1], WIFEXITED(status[c]) ? WEXITSTATUS(status[c]) : 128 + WTERMSIG(status[c]));
    }
    return 0;
}
