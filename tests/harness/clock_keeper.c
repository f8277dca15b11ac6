/*
 * devroot-clock-keeper: no clock change made in a device root reaches the
 * host's kernel.
 *
 * usage: clock-keeper command [arg...]
 *   Puts a seccomp filter on itself, starts the keeper, then becomes the
 *   command (the run's init), so that the filter is on everything the run
 *   starts (the set-user-ID app and its emulator too). Where the kernel can
 *   do neither, says so and exits 125: a device root never runs without them.
 *
 * The filter hands every clock_settime() to the keeper, which answers it as
 * the kernel would and sets nothing. Each call is one record in
 * /records/log, in the stand-in's format (standin.c), written before the
 * answer, which comes 0.2 s later:
 *
 *   tool=clock event=set|refused [errno=EINVAL|EPERM|EFAULT] clock=ID
 *   seconds=S nanoseconds=N pid=PID time_ms=MS
 *
 * seconds and nanoseconds are missing where the time could not be read;
 * pid is the caller as the device root's PID namespace sees it.
 */

#include <errno.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#if defined(__x86_64__)
#define NATIVE_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define NATIVE_ARCH AUDIT_ARCH_AARCH64
#elif defined(__i386__)
#define NATIVE_ARCH AUDIT_ARCH_I386
#elif defined(__arm__)
#define NATIVE_ARCH AUDIT_ARCH_ARM
#else
#error "clock_keeper.c: name this machine's audit architecture"
#endif

#define REFUSED (SECCOMP_RET_ERRNO | EPERM)
#define CAP_SYS_TIME_BIT 25
/* The latest time the kernel lets the clock be set to (include/linux/time64.h):
 * KTIME_SEC_MAX less 30 years of uptime. */
#define TIME_SETTOD_SEC_MAX (INT64_MAX / 1000000000 - 30LL * 365 * 24 * 3600)

__attribute__((noreturn)) static void fail(const char* what) {
    fprintf(stderr, "clock-keeper: cannot intercept the clock: %s: %s\n", what, strerror(errno));
    exit(125);
}

/* Returns the listener of a filter now on this process. */
static int install_filter(void) {
    /* settimeofday, stime and the adjtimex family fail outright: nothing in
     * a device root needs them, and answering them would take a model of
     * the kernel's NTP state. */
    static const struct {
        int nr;
        uint32_t action;
    } calls[] = {
        {__NR_clock_settime, SECCOMP_RET_USER_NOTIF},
#ifdef __NR_clock_settime64
        {__NR_clock_settime64, SECCOMP_RET_USER_NOTIF},
#endif
        {__NR_settimeofday, REFUSED},
#ifdef __NR_stime
        {__NR_stime, REFUSED},
#endif
        {__NR_adjtimex, REFUSED},
        {__NR_clock_adjtime, REFUSED},
#ifdef __NR_clock_adjtime64
        {__NR_clock_adjtime64, REFUSED},
#endif
    };
    struct sock_filter code[8 + 2 * sizeof calls / sizeof *calls];
    unsigned short n = 0;
    /* Another ABI numbers its calls otherwise (i386's clock_settime is
     * x86_64's getpriority): a list for this one would let its clock calls
     * through. Nothing in a device root uses one; the armhf app's emulator
     * makes native calls. */
    code[n++] = (struct sock_filter)BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch));
    code[n++] = (struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, NATIVE_ARCH, 1, 0);
    code[n++] = (struct sock_filter)BPF_STMT(BPF_RET | BPF_K, REFUSED);
    code[n++] = (struct sock_filter)BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr));
#ifdef __x86_64__
    /* x32 shares the architecture, its numbers have bit 30 set. -1, a call
     * a tracer (strace's fault injection) skipped, is none of them. */
    code[n++] = (struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000, 0, 2);
    code[n++] = (struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x80000000, 1, 0);
    code[n++] = (struct sock_filter)BPF_STMT(BPF_RET | BPF_K, REFUSED);
#endif
    for (size_t i = 0; i < sizeof calls / sizeof *calls; ++i) {
        code[n++] = (struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (uint32_t)calls[i].nr, 0, 1);
        code[n++] = (struct sock_filter)BPF_STMT(BPF_RET | BPF_K, calls[i].action);
    }
    code[n++] = (struct sock_filter)BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    struct sock_fprog program = {.len = n, .filter = code};
    /* As root with CAP_SYS_ADMIN: no no_new_privs, which would disarm the set-user-ID app. */
    long listener = syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program);
    if (listener < 0) fail("seccomp filter with a listener");
    return (int)listener;
}

/* The time the caller passed: clock_settime64 takes two 64-bit numbers,
 * clock_settime two longs (a 32-bit kernel keeps the low half of a 64-bit
 * nanosecond field). */
static int read_time(const struct seccomp_notif* n, long long* seconds, long long* nanoseconds) {
    union {
        long long wide[2];
        long narrow[2];
    } t;
    int wide = 0;
#ifdef __NR_clock_settime64
    wide = n->data.nr == __NR_clock_settime64;
#endif
    struct iovec local = {&t, wide ? sizeof t.wide : sizeof t.narrow};
    struct iovec remote = {(void*)(uintptr_t)n->data.args[1], local.iov_len};
    if (process_vm_readv((pid_t)n->pid, &local, 1, &remote, 1, 0) != (ssize_t)local.iov_len) return 0;
    *seconds = wide ? t.wide[0] : t.narrow[0];
    *nanoseconds = wide ? (long)t.wide[1] : t.narrow[1];
    return 1;
}

/* CAP_SYS_TIME in the initial user namespace, which is the keeper's. */
static int may_set_time(pid_t pid) {
    char path[64], line[256];
    struct stat mine, theirs;
    snprintf(path, sizeof path, "/proc/%d/ns/user", pid);
    if (stat("/proc/self/ns/user", &mine) || stat(path, &theirs) || mine.st_ino != theirs.st_ino ||
        mine.st_dev != theirs.st_dev)
        return 0;
    snprintf(path, sizeof path, "/proc/%d/status", pid);
    FILE* status = fopen(path, "re");
    unsigned long long effective = 0;
    while (status && fgets(line, sizeof line, status))
        if (sscanf(line, "CapEff: %llx", &effective) == 1) break;
    if (status) fclose(status);
    return (effective >> CAP_SYS_TIME_BIT) & 1;
}

/* The kernel's answer (clock_settime, then do_sys_settimeofday64), in its order. */
static int judge(const struct seccomp_notif* n, int readable, long long seconds, long long nanoseconds) {
    if ((clockid_t)n->data.args[0] != CLOCK_REALTIME) return EINVAL;  /* the one clock that can be set */
    if (!readable) return EFAULT;
    if (seconds < 0 || nanoseconds < 0 || nanoseconds > 999999999 || seconds >= TIME_SETTOD_SEC_MAX) return EINVAL;
    if (!may_set_time((pid_t)n->pid)) return EPERM;
    struct timespec boot;  /* the clock is never set before the system started */
    clock_gettime(CLOCK_MONOTONIC, &boot);
    if (seconds < boot.tv_sec || (seconds == boot.tv_sec && nanoseconds < boot.tv_nsec)) return EINVAL;
    return 0;
}

/* One line, one write under the stand-ins' lock. Every value is a number
 * or a name: nothing to escape. */
static void record(const struct seccomp_notif* n, int error, int readable, long long seconds, long long nanoseconds) {
    char line[512];
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int length = snprintf(line, sizeof line, "tool=clock\tevent=%s", error ? "refused" : "set");
    if (error)
        length += snprintf(line + length, sizeof line - (size_t)length, "\terrno=%s",
                           error == EPERM ? "EPERM" : error == EFAULT ? "EFAULT" : "EINVAL");
    length += snprintf(line + length, sizeof line - (size_t)length, "\tclock=%d", (int)n->data.args[0]);
    if (readable)
        length += snprintf(line + length, sizeof line - (size_t)length, "\tseconds=%lld\tnanoseconds=%lld", seconds,
                           nanoseconds);
    length += snprintf(line + length, sizeof line - (size_t)length, "\tpid=%u\ttime_ms=%lld\n", n->pid,
                       (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000);
    int fd = open("/records/log", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd == -1) {
        perror("clock-keeper: /records/log");
        return;
    }
    flock(fd, LOCK_EX);
    if (write(fd, line, (size_t)length) != length) perror("clock-keeper: write");
    close(fd);
}

static void answer(int listener, const struct seccomp_notif* n) {
    long long seconds = 0, nanoseconds = 0;
    const int readable = read_time(n, &seconds, &nanoseconds);
    const int error = judge(n, readable, seconds, nanoseconds);
    /* A caller gone meanwhile may have left its number to another process,
     * whose memory and rights were read instead. */
    if (ioctl(listener, SECCOMP_IOCTL_NOTIF_ID_VALID, &n->id) == -1) return;
    record(n, error, readable, seconds, nanoseconds);
    /* Time for a test's caller that watches the records to act while the
     * applet still waits in its call: the moment the clock would be set. */
    const struct timespec pause = {0, 200000000};
    nanosleep(&pause, NULL);
    struct seccomp_notif_resp response = {.id = n->id, .val = 0, .error = -error};
    ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, &response);  /* fails only for a caller gone since */
}

__attribute__((noreturn)) static void keep_clock(int listener) {
    prctl(PR_SET_NAME, "clock-keeper");
    umask(0);  /* the records file, as the stand-ins make it: anyone's to append to */
    for (;;) {
        struct seccomp_notif n;
        memset(&n, 0, sizeof n);
        if (ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, &n) == 0) answer(listener, &n);
        else if (errno != EINTR && errno != ENOENT) fail("receiving a call");
    }
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: clock-keeper command [arg...]\n");
        return 125;
    }
    const int listener = install_filter();
    /* No exit signal: waitpid() without __WALL passes over such a child, so
     * the init this process becomes waits for the run's processes alone. It
     * ends with the run's PID namespace. */
    const long keeper = syscall(SYS_clone, 0L, 0L, 0L, 0L, 0L);
    if (keeper == -1) fail("clone");
    if (keeper == 0) keep_clock(listener);
    close(listener);
    execv(argv[1], argv + 1);
    fail("cannot execute the command");
}
