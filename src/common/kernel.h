// Direct system calls for what only the privileged paths need. Every C
// library function the program imports costs every start, `led` included,
// its binding by the loader (BIND_NOW): several hundred instructions each.
#pragma once

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

inline int kernel_setsid() { return static_cast<int>(syscall(SYS_setsid)); }

inline int kernel_personality(unsigned long persona) { return static_cast<int>(syscall(SYS_personality, persona)); }

// The kernel's own interval timer value: four longs, whatever time_t is.
inline int kernel_disarm_timer(int which) {
    const long none[4] = {};
    return static_cast<int>(syscall(SYS_setitimer, which, none, nullptr));
}

inline ssize_t kernel_readlink(const char* path, char* buffer, std::size_t size) {
    return syscall(SYS_readlinkat, AT_FDCWD, path, buffer, size);
}

inline int kernel_socket(int domain, int type) { return static_cast<int>(syscall(SYS_socket, domain, type, 0)); }

inline ssize_t kernel_sendto(int fd, const void* data, std::size_t size, int flags, const void* address,
                             std::size_t address_size) {
    return syscall(SYS_sendto, fd, data, size, flags, address, address_size);
}

// CLOCK_REALTIME with 64-bit seconds on every machine.
inline struct timespec kernel_realtime() {
    struct {
        std::int64_t seconds, nanoseconds;
    } now{};
#ifdef SYS_clock_gettime64
    syscall(SYS_clock_gettime64, CLOCK_REALTIME, &now);
#else
    syscall(SYS_clock_gettime, CLOCK_REALTIME, &now);
#endif
    struct timespec value{};
    value.tv_sec = static_cast<time_t>(now.seconds);
    value.tv_nsec = static_cast<long>(now.nanoseconds);
    return value;
}
