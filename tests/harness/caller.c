/*
 * devroot-caller, installed as /.devroot/caller: the last step of the tools
 * that start a device root's command, for what no tool sets on a caller.
 *
 * usage: caller [--hostile] [--argv0 TEXT | --no-argv] -- command [arg...]
 *   --hostile     set everything an unprivileged process can set on itself
 *                 that survives exec (interval timers excepted): see
 *                 become_hostile(). What this kernel refuses is skipped
 *   --argv0 TEXT  argv[0] for the command (default: the path)
 *   --no-argv     start the command with an empty argv
 *
 * It runs with the caller's environment, which `env -i` gave it: linked
 * statically, it has no loader that LD_PRELOAD and the like could steer,
 * and so it is the one step that can come after env and still name argv[0].
 */

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "common/sched_attr.h"

extern char** environ;

__attribute__((noreturn)) static void die(const char* message) {
    fprintf(stderr, "devroot-caller: %s\n", message);
    exit(125);
}

static int write_text(const char* path, const char* text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd == -1) return -1;
    ssize_t n = write(fd, text, strlen(text));
    close(fd);
    return n == (ssize_t)strlen(text) ? 0 : -1;
}

#define KEYCTL_JOIN_SESSION_KEYRING 1
#define KEYCTL_SET_REQKEY_KEYRING 14
#define KEY_SPEC_SESSION_KEYRING (-3)
#define KEY_REQKEY_DEFL_SESSION_KEYRING 3
#define SET_MDWE 65
#define MDWE_REFUSE_EXEC_GAIN 1
#define SET_MEMORY_MERGE 67
#define ATTR_KEEP_ALL 0x18 /* policy and parameters */
#define ATTR_UTIL_CLAMP_MAX 0x40

/* Each soft limit lowered, yet far enough above what the app, its emulator
 * or its sanitizer's address space reservation need to start at all. An
 * emulator keeps the address space, data and stack limits to itself: the
 * app it runs could not set them again. */
static void lower_soft_limits(int emulated) {
    static const rlim_t to[RLIM_NLIMITS] = {
        [RLIMIT_CPU] = 60,           [RLIMIT_FSIZE] = 1 << 20,   [RLIMIT_DATA] = 1ULL << 46,
        [RLIMIT_STACK] = 2 << 20,    [RLIMIT_CORE] = 0,          [RLIMIT_RSS] = 1 << 30,
        [RLIMIT_NPROC] = 64,         [RLIMIT_NOFILE] = 32,       [RLIMIT_MEMLOCK] = 64 << 10,
        [RLIMIT_AS] = 1ULL << 46,    [RLIMIT_LOCKS] = 16,        [RLIMIT_SIGPENDING] = 16,
        [RLIMIT_MSGQUEUE] = 8192,    [RLIMIT_NICE] = 0,          [RLIMIT_RTPRIO] = 0,
        [RLIMIT_RTTIME] = 10000000,
    };
    for (int resource = 0; resource < RLIM_NLIMITS; ++resource) {
        struct rlimit limit;
        if (emulated && (resource == RLIMIT_AS || resource == RLIMIT_DATA || resource == RLIMIT_STACK)) continue;
        if (getrlimit(resource, &limit) || limit.rlim_cur <= to[resource]) continue;
        limit.rlim_cur = to[resource];
        setrlimit(resource, &limit);
    }
}

/* The lowest priority a process can leave again only with privilege: batch
 * at nice 19, with a time slice of its own where the kernel has them (the
 * idle policy would ignore both). */
static void lowest_priority(void) {
    struct kernel_sched_attr a = {.size = sizeof a, .policy = SCHED_BATCH, .nice = 19, .runtime = 3000000};
    if (syscall(SYS_sched_setattr, 0, &a, 0) != 0) {
        struct sched_param none = {0};
        sched_setscheduler(0, SCHED_BATCH, &none);
    }
    /* Half the CPU's capacity at most, where the kernel has clamps. */
    struct kernel_sched_attr clamp = {.size = sizeof clamp, .flags = ATTR_KEEP_ALL | ATTR_UTIL_CLAMP_MAX,
                                      .util_max = 512};
    syscall(SYS_sched_setattr, 0, &clamp, 0);
    setpriority(PRIO_PROCESS, 0, 19);
    syscall(SYS_ioprio_set, 1 /* IOPRIO_WHO_PROCESS */, 0, 3 << 13 /* IOPRIO_CLASS_IDLE */);
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) {
        int last = -1;
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &cpus)) last = cpu;
        CPU_ZERO(&cpus);
        CPU_SET(last, &cpus);
        sched_setaffinity(0, sizeof cpus, &cpus);
    }
}

/* A keyring of the caller's own, holding a secret, and request_key()'s
 * results sent there. */
static void own_keyring(void) {
    syscall(SYS_keyctl, KEYCTL_JOIN_SESSION_KEYRING, "caller");
    syscall(SYS_add_key, "user", "caller-secret", "secret", (size_t)6, KEY_SPEC_SESSION_KEYRING);
    syscall(SYS_keyctl, KEYCTL_SET_REQKEY_KEYRING, KEY_REQKEY_DEFL_SESSION_KEYRING);
}

/* Everything an unprivileged caller can set on itself that survives exec,
 * but interval timers. */
static void become_hostile(void) {
    personality(PER_LINUX | UNAME26 | ADDR_NO_RANDOMIZE | STICKY_TIMEOUTS);
    prctl(PR_SET_TIMERSLACK, 1000000000UL, 0, 0, 0);
    prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    prctl(PR_MCE_KILL, PR_MCE_KILL_SET, PR_MCE_KILL_EARLY, 0, 0);
    prctl(SET_MEMORY_MERGE, 1, 0, 0, 0);  /* KSM for all its memory */
    prctl(PR_SET_SPECULATION_CTRL, PR_SPEC_STORE_BYPASS, PR_SPEC_DISABLE, 0, 0);
    prctl(PR_SET_SPECULATION_CTRL, PR_SPEC_INDIRECT_BRANCH, PR_SPEC_DISABLE, 0, 0);
    prctl(PR_SET_SPECULATION_CTRL, PR_SPEC_L1D_FLUSH, PR_SPEC_ENABLE, 0, 0);
    /* An emulator, offered where the app is a foreign binary, writes the code it runs. */
    int emulated = access("/.devroot/emu/emulator", F_OK) == 0;
    if (!emulated) prctl(SET_MDWE, MDWE_REFUSE_EXEC_GAIN, 0, 0, 0);
    write_text("/proc/self/oom_score_adj", "1000");
    write_text("/proc/self/coredump_filter", "0");
    write_text("/proc/self/autogroup", "19");
    char uid[16];
    snprintf(uid, sizeof uid, "%u", (unsigned)getuid());
    write_text("/proc/self/loginuid", uid);  /* as a login would, where it is still unset */
    own_keyring();
    unsigned long node0 = 1;
    syscall(SYS_set_mempolicy, 1 /* MPOL_PREFERRED */, &node0, sizeof node0 * 8);
    lowest_priority();
    lower_soft_limits(emulated);
    sigset_t realtime;
    sigemptyset(&realtime);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        signal(sig, SIG_IGN);
        sigaddset(&realtime, sig);
    }
    sigprocmask(SIG_BLOCK, &realtime, NULL);
    umask(077);
}

int main(int argc, char** argv) {
    const char* argv0 = NULL;
    int no_argv = 0, hostile = 0, i = 1;
    for (; i < argc && strcmp(argv[i], "--"); ++i) {
        if (!strcmp(argv[i], "--no-argv")) no_argv = 1;
        else if (!strcmp(argv[i], "--hostile")) hostile = 1;
        else if (i + 1 < argc && !strcmp(argv[i], "--argv0")) argv0 = argv[++i];
        else die("unknown option");
    }
    if (i + 1 >= argc) die("no command");
    char** command = argv + i + 1;
    char* path = command[0];
    if (argv0) command[0] = (char*)argv0;
    if (hostile) become_hostile();
    char* empty[] = {NULL};
    execve(path, no_argv ? empty : command, environ);
    die("cannot execute the command");
}
