// Every direct system call of the program. Some have no C library function
// (keyctl, set_mempolicy, ioprio_set; sched_setattr before glibc 2.41); the
// others spare the loader a binding: every C library function the program
// imports costs every start, `led` included, its binding by the loader
// (BIND_NOW), several hundred instructions each.
#pragma once

#include <fcntl.h>
#include <linux/keyctl.h>
#include <linux/mempolicy.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "common/sched_attr.h"

inline int kernel_setsid() { return static_cast<int>(syscall(SYS_setsid)); }

inline int kernel_personality(unsigned long persona) { return static_cast<int>(syscall(SYS_personality, persona)); }

// The key and memory calls of the root step, which the C library leaves to
// libkeyutils and libnuma.
inline int kernel_join_new_session_keyring() {
    return static_cast<int>(syscall(SYS_keyctl, KEYCTL_JOIN_SESSION_KEYRING, nullptr));
}

inline int kernel_default_requested_key_keyring() {
    return static_cast<int>(syscall(SYS_keyctl, KEYCTL_SET_REQKEY_KEYRING, KEY_REQKEY_DEFL_DEFAULT));
}

inline int kernel_default_memory_policy() {
    return static_cast<int>(syscall(SYS_set_mempolicy, MPOL_DEFAULT, nullptr, 0));
}

// The kernel's own interval timer value: four longs, whatever time_t is.
inline int kernel_disarm_timer(int which) {
    const long none[4] = {};
    return static_cast<int>(syscall(SYS_setitimer, which, none, nullptr));
}

inline ssize_t kernel_readlink(const char* path, char* buffer, std::size_t size) {
    return syscall(SYS_readlinkat, AT_FDCWD, path, buffer, size);
}

inline int kernel_socket(int domain, int type) { return static_cast<int>(syscall(SYS_socket, domain, type, 0)); }

inline int kernel_setsockopt(int fd, int level, int name, const void* value, std::size_t size) {
    return static_cast<int>(syscall(SYS_setsockopt, fd, level, name, value, size));
}

inline ssize_t kernel_sendmsg(int fd, const void* message, int flags) {
    return syscall(SYS_sendmsg, fd, message, flags);
}

static_assert(sizeof(kernel_sched_attr) == 56);
// The struct as first published: kernels before the clamps refuse a longer one.
constexpr std::uint32_t SCHED_ATTR_SIZE_FIRST = 48;
constexpr std::uint64_t SCHED_FLAG_UTIL_CLAMP = 0x20 | 0x40;  // minimum and maximum
constexpr std::uint32_t UTIL_CLAMP_DEFAULT = 0xffffffff;      // "back to the default"

// The scheduling calls of the root step: SCHED_OTHER at nice 0 for the
// process (sched_setattr, or the two calls after it where that is missing),
// and its CPUs. `reset_clamps`: also the default utilization clamps, which
// only a kernel built with them knows.
inline int kernel_normal_sched_attr(bool reset_clamps) {
    kernel_sched_attr normal{SCHED_ATTR_SIZE_FIRST, 0 /* SCHED_OTHER */, 0, 0, 0, 0, 0, 0, 0, 0};
    if (reset_clamps) {
        normal.size = sizeof normal;
        normal.flags = SCHED_FLAG_UTIL_CLAMP;
        normal.util_min = normal.util_max = UTIL_CLAMP_DEFAULT;
    }
    return static_cast<int>(syscall(SYS_sched_setattr, 0, &normal, 0));
}

inline int kernel_normal_policy() {
    const int none[1] = {0};  // struct sched_param: the priority alone
    return static_cast<int>(syscall(SYS_sched_setscheduler, 0, 0 /* SCHED_OTHER */, none));
}

inline int kernel_nice_zero() { return static_cast<int>(syscall(SYS_setpriority, 0 /* PRIO_PROCESS */, 0, 0)); }

// The process's I/O priority of class "none": the one its nice value implies.
// Numbers from the kernel's ABI: Debian 12's <linux/ioprio.h> does not
// compile as C++ (a parameter named "class").
inline int kernel_io_priority_of_nice() {
    return static_cast<int>(syscall(SYS_ioprio_set, 1 /* IOPRIO_WHO_PROCESS */, 0, 0 /* class none */));
}

// The raw call fills as many bytes as the kernel's mask has: clear the rest first.
template <typename CpuSet>
inline int kernel_get_cpus(pid_t pid, CpuSet& cpus) {
    cpus = CpuSet{};
    return syscall(SYS_sched_getaffinity, pid, sizeof cpus, &cpus) > 0 ? 0 : -1;
}

template <typename CpuSet>
inline int kernel_set_cpus(const CpuSet& cpus) {
    return static_cast<int>(syscall(SYS_sched_setaffinity, 0, sizeof cpus, &cpus));
}

// A clock with 64-bit seconds on every machine; false where the call fails.
inline bool kernel_clock(clockid_t clock, std::int64_t (&time)[2]) {
#ifdef SYS_clock_gettime64
    return syscall(SYS_clock_gettime64, clock, time) == 0;
#else
    return syscall(SYS_clock_gettime, clock, time) == 0;
#endif
}

inline struct timespec kernel_realtime() {
    std::int64_t now[2] = {};
    kernel_clock(CLOCK_REALTIME, now);
    struct timespec value{};
    value.tv_sec = static_cast<time_t>(now[0]);
    value.tv_nsec = static_cast<long>(now[1]);
    return value;
}

// CLOCK_MONOTONIC in nanoseconds; 0 where the call fails.
inline std::int64_t kernel_monotonic_ns() {
    std::int64_t now[2] = {};
    if (!kernel_clock(CLOCK_MONOTONIC, now)) return 0;
    return now[0] * 1000000000 + now[1];
}
