/*
 * fault_preload: makes one C library call fail where no system call can be
 * made to fail in its place, for black-box tests only. Preloaded into an app
 * that root starts (the loader then honours LD_PRELOAD), it reads its plan
 * from /etc/standin/fault, one line "FUNCTION N":
 *   clearenv 1   clearenv() reports failure
 *   setenv N     the Nth setenv() fails with ENOMEM
 *   getline N    the Nth getline() fails with ENOMEM, as when its buffer
 *                cannot grow
 *   malloc N     every malloc() of at least N bytes fails
 * Every other call goes to the C library.
 */

#ifndef _GNU_SOURCE
#define _GNU_SOURCE /* RTLD_NEXT */
#endif
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

#define PLAN_FILE "/etc/standin/fault"

static char planned[16];
static long planned_call;

/* Read at load time: the app clears its environment and we must not depend on it. */
__attribute__((constructor)) static void read_plan(void) {
    FILE* f = fopen(PLAN_FILE, "re");
    if (!f) return;
    if (fscanf(f, "%15s %ld", planned, &planned_call) != 2) planned[0] = '\0';
    fclose(f);
}

/* Counts calls of `function`; true for the one planned to fail. */
static int fails_now(const char* function) {
    static long calls;
    return strcmp(planned, function) == 0 && ++calls == planned_call;
}

int clearenv(void) {
    if (fails_now("clearenv")) return -1;
    int (*real)(void);
    *(void**)&real = dlsym(RTLD_NEXT, "clearenv");
    return real();
}

int setenv(const char* name, const char* value, int overwrite) {
    if (fails_now("setenv")) {
        errno = ENOMEM;
        return -1;
    }
    int (*real)(const char*, const char*, int);
    *(void**)&real = dlsym(RTLD_NEXT, "setenv");
    return real(name, value, overwrite);
}

/* Optimised builds call getline() as the inline that calls __getdelim(). */
static ssize_t planned_getdelim(const char* real_name, char** line, size_t* capacity, int delimiter, FILE* stream) {
    if (fails_now("getline")) {
        errno = ENOMEM;
        return -1;
    }
    ssize_t (*real)(char**, size_t*, int, FILE*);
    *(void**)&real = dlsym(RTLD_NEXT, real_name);
    return real(line, capacity, delimiter, stream);
}

ssize_t getline(char** line, size_t* capacity, FILE* stream) {
    return planned_getdelim("getdelim", line, capacity, '\n', stream);
}

ssize_t __getdelim(char** line, size_t* capacity, int delimiter, FILE* stream) {
    return planned_getdelim("__getdelim", line, capacity, delimiter, stream);
}

void* malloc(size_t size) {
    static void* (*real)(size_t);
    if (!real) *(void**)&real = dlsym(RTLD_NEXT, "malloc");
    if (strcmp(planned, "malloc") == 0 && size >= (size_t)planned_call) {
        errno = ENOMEM;
        return NULL;
    }
    return real(size);
}
