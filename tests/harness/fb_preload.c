/*
 * fb_preload: a stand-in for the framebuffer's screen-information query, for
 * black-box tests only. Preloaded into the app (LD_PRELOAD), it answers
 * FBIOGET_VSCREENINFO on a descriptor of /dev/fb0 with the resolution
 * written in /etc/standin/fb0 ("WIDTH HEIGHT"); every other request, and
 * every request when that file is missing, goes to the real ioctl.
 */

#ifndef _GNU_SOURCE
#define _GNU_SOURCE /* RTLD_NEXT */
#endif
#include <dlfcn.h>
#include <linux/fb.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#define RESOLUTION_FILE "/etc/standin/fb0"
#define FRAMEBUFFER_PATH "/dev/fb0"

static int have_resolution;
static unsigned int width, height;

/* Read at load time: the app clears its environment and we must not depend on it. */
__attribute__((constructor)) static void read_resolution(void) {
    FILE* f = fopen(RESOLUTION_FILE, "re");
    if (!f) return;
    have_resolution = fscanf(f, "%u %u", &width, &height) == 2;
    fclose(f);
}

static int is_framebuffer(int fd) {
    char link[64], target[sizeof FRAMEBUFFER_PATH + 1];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target);
    return n == (ssize_t)strlen(FRAMEBUFFER_PATH) && memcmp(target, FRAMEBUFFER_PATH, (size_t)n) == 0;
}

static int answer(const char* name, int fd, unsigned long request, void* arg) {
    if (have_resolution && request == FBIOGET_VSCREENINFO && is_framebuffer(fd)) {
        struct fb_var_screeninfo* info = arg;
        info->xres = width;
        info->yres = height;
        return 0;
    }
    int (*real)(int, unsigned long, void*);
    *(void**)&real = dlsym(RTLD_NEXT, name);
    return real(fd, request, arg);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return answer("ioctl", fd, request, arg);
}

/* 32-bit builds with a 64-bit time_t call this name instead. */
int __ioctl_time64(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return answer("__ioctl_time64", fd, request, arg);
}
