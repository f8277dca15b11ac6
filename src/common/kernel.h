// The program's direct system calls, in two groups: those the C library has
// no function for, and those kept direct only to spare the loader a binding:
// every C library function the program imports costs every start, `led`
// included, its binding by the loader (BIND_NOW), several hundred
// instructions each.
#pragma once

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/keyctl.h>
#include <linux/mempolicy.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "common/sched_attr.h"

// ---- No function in the C library: keys and memory policy (libkeyutils'
// and libnuma's), I/O priority, sched_setattr (before glibc 2.41) and
// capget (libcap's).

inline int kernel_join_new_session_keyring() {
    return static_cast<int>(syscall(SYS_keyctl, KEYCTL_JOIN_SESSION_KEYRING, nullptr));
}

inline int kernel_default_requested_key_keyring() {
    return static_cast<int>(syscall(SYS_keyctl, KEYCTL_SET_REQKEY_KEYRING, KEY_REQKEY_DEFL_DEFAULT));
}

inline int kernel_default_memory_policy() {
    return static_cast<int>(syscall(SYS_set_mempolicy, MPOL_DEFAULT, nullptr, 0));
}

// The process's I/O priority of class "none": the one its nice value implies.
// Numbers from the kernel's ABI: Debian 12's <linux/ioprio.h> does not
// compile as C++ (a parameter named "class").
inline int kernel_reset_io_priority() {
    return static_cast<int>(syscall(SYS_ioprio_set, 1 /* IOPRIO_WHO_PROCESS */, 0, 0 /* class none */));
}

static_assert(sizeof(kernel_sched_attr) == 56);
// The struct as first published: kernels before the clamps refuse a longer one.
constexpr std::uint32_t SCHED_ATTR_SIZE_FIRST = 48;
constexpr std::uint64_t UTIL_CLAMP_FLAGS = 0x20 | 0x40;  // minimum and maximum
constexpr std::uint32_t UTIL_CLAMP_RESET = 0xffffffff;   // "back to the default", Linux 5.11 on
constexpr std::uint32_t UTIL_CLAMP_MAX_DEFAULT = 1024;   // SCHED_CAPACITY_SCALE; the minimum's is 0

// Which utilization clamps a normal policy comes with: none (a kernel
// without them), the reset value, or the defaults by value.
enum class UtilClamps { None, Reset, Defaults };

// SCHED_OTHER at nice 0 for the process, no reset-on-fork, the default time
// slice, and `clamps`.
inline int kernel_normal_sched_attr(UtilClamps clamps) {
    kernel_sched_attr normal{SCHED_ATTR_SIZE_FIRST, 0 /* SCHED_OTHER */, 0, 0, 0, 0, 0, 0, 0, 0};
    if (clamps != UtilClamps::None) {
        normal.size = sizeof normal;
        normal.flags = UTIL_CLAMP_FLAGS;
        normal.util_min = clamps == UtilClamps::Reset ? UTIL_CLAMP_RESET : 0;
        normal.util_max = clamps == UtilClamps::Reset ? UTIL_CLAMP_RESET : UTIL_CLAMP_MAX_DEFAULT;
    }
    return static_cast<int>(syscall(SYS_sched_setattr, 0, &normal, 0));
}

// The first 32 effective capabilities (CAP_SETUID and CAP_SETGID among
// them); none where they cannot be read.
inline std::uint32_t kernel_effective_capabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    return syscall(SYS_capget, &header, data) == 0 ? data[0].effective : 0;
}

// ---- Direct to spare a binding: the root step's, the audit line's.

inline int kernel_setsid() { return static_cast<int>(syscall(SYS_setsid)); }

inline int kernel_personality(unsigned long persona) { return static_cast<int>(syscall(SYS_personality, persona)); }

// The kernel's own interval timer value: four longs, whatever time_t is.
inline int kernel_disarm_timer(int which) {
    const long none[4] = {};
    return static_cast<int>(syscall(SYS_setitimer, which, none, nullptr));
}

// Where sched_setattr is missing: the policy, then the nice value.
inline int kernel_normal_policy() {
    const int none[1] = {0};  // struct sched_param: the priority alone
    return static_cast<int>(syscall(SYS_sched_setscheduler, 0, 0 /* SCHED_OTHER */, none));
}

inline int kernel_reset_nice() { return static_cast<int>(syscall(SYS_setpriority, 0 /* PRIO_PROCESS */, 0, 0)); }

// The call fills as many bytes as the kernel's mask has: clear the rest first.
template <typename CpuSet>
inline int kernel_get_cpus(pid_t pid, CpuSet& cpus) {
    cpus = CpuSet{};
    return syscall(SYS_sched_getaffinity, pid, sizeof cpus, &cpus) > 0 ? 0 : -1;
}

template <typename CpuSet>
inline int kernel_set_cpus(const CpuSet& cpus) {
    return static_cast<int>(syscall(SYS_sched_setaffinity, 0, sizeof cpus, &cpus));
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
