/*
 * devroot-init: process 1 of a device root's PID namespace. Starts one
 * command with the identity, argv[0], environment and descriptors asked for,
 * reaps everything, and when the command has ended waits up to --linger
 * seconds for the rest before ending the namespace (which kills what is left).
 *
 * usage: init [options] -- command [arg...]
 *   --user UID[:GID[:G1,G2...]]  identity (default 0:0:0)
 *   --argv0 TEXT                 argv[0] for the command (default: the path)
 *   --no-argv                    start the command with an empty argv
 *   --cwd DIR                    working directory (default /)
 *   --env NAME=VALUE             environment entry (repeatable; default none)
 *   --close FD                   start the command with FD closed (repeatable)
 *   --ignore SIG, --block SIG    start it with signal SIG ignored, or blocked (repeatable)
 *   --timeout S --signal N       send signal N (default 9) to the command after S seconds
 *   --linger S                   after the command ends, wait this long for the rest
 *   --result FILE                write "status=" and "elapsed_ms=" of the command there
 *   --rlimit NAME=N              soft limit for the command (repeatable), set after the
 *                                identity change as an unprivileged caller would; NAME is
 *                                nofile, nproc, core, stack, fsize or as. The hard limit
 *                                stays: only CAP_SYS_RESOURCE lifts a lowered one again,
 *                                and some machines' root lacks it
 *   --session                    start the command as a service manager starts a
 *                                service: its own session, a new anonymous session
 *                                keyring, no supplementary groups, umask 022, every
 *                                signal default
 *   --delegate NAME              start the command in cgroup NAME of /sys/fs/cgroup (a
 *                                cgroup v2 hierarchy), made for it and owned by its
 *                                user, as a service manager delegates a cgroup
 *   --hostile                    after the identity change, set everything an
 *                                unprivileged process can set on itself that
 *                                survives exec (interval timers excepted): see
 *                                become_hostile(). What this kernel refuses is skipped
 *
 * The exit status is the command's (128 + signal when it was killed).
 *
 * Before the command starts, a seccomp filter goes on this process and so on
 * all it starts: the clock keeper (clock_keeper.c), a child of this process,
 * answers every clock_settime() without setting the host's clock, and
 * records it. A device root never runs without it.
 */

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "clock_keeper.h"
#include "common/sched_attr.h"

#define MAX_LIST 64

struct options {
    uid_t uid;
    gid_t gid;
    gid_t groups[MAX_LIST];
    int group_count;
    const char* argv0;
    int no_argv;
    const char* cwd;
    char* env[4096 * 4];
    int env_count;
    int close_fds[MAX_LIST];
    int close_count;
    int ignored[MAX_LIST], ignored_count;
    sigset_t blocked;
    double timeout, linger;
    int signal;
    const char* result;
    int rlimit_names[MAX_LIST];
    rlim_t rlimit_values[MAX_LIST];
    int rlimit_count;
    int session, hostile;
    const char* delegate;
    char** command;
};

static struct options opt = {.group_count = 1, .cwd = "/", .signal = SIGKILL};

static void die(const char* message) {
    fprintf(stderr, "devroot-init: %s\n", message);
    exit(125);
}

static double now_seconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static void parse_user(char* text) {
    char* gid = strchr(text, ':');
    if (gid) *gid++ = '\0';
    opt.uid = (uid_t)strtoul(text, NULL, 10);
    opt.gid = gid ? (gid_t)strtoul(gid, NULL, 10) : opt.uid;
    char* groups = gid ? strchr(gid, ':') : NULL;
    opt.group_count = 0;
    if (!groups) {
        opt.groups[opt.group_count++] = opt.gid;
        return;
    }
    for (char* g = strtok(groups + 1, ","); g && opt.group_count < MAX_LIST; g = strtok(NULL, ","))
        opt.groups[opt.group_count++] = (gid_t)strtoul(g, NULL, 10);
}

static void parse_rlimit(const char* text) {
    static const struct {
        const char* name;
        int resource;
    } names[] = {{"nofile", RLIMIT_NOFILE}, {"nproc", RLIMIT_NPROC}, {"core", RLIMIT_CORE},
                 {"stack", RLIMIT_STACK},   {"fsize", RLIMIT_FSIZE}, {"as", RLIMIT_AS}};
    const char* eq = strchr(text, '=');
    if (!eq || opt.rlimit_count >= MAX_LIST) die("bad --rlimit");
    for (size_t i = 0; i < sizeof names / sizeof *names; ++i) {
        if (strlen(names[i].name) != (size_t)(eq - text) || strncmp(names[i].name, text, (size_t)(eq - text)))
            continue;
        opt.rlimit_names[opt.rlimit_count] = names[i].resource;
        opt.rlimit_values[opt.rlimit_count++] = (rlim_t)strtoull(eq + 1, NULL, 10);
        return;
    }
    die("unknown --rlimit name");
}

static void apply_rlimits(void) {
    for (int i = 0; i < opt.rlimit_count; ++i) {
        struct rlimit limit;
        if (getrlimit(opt.rlimit_names[i], &limit)) die("cannot read a limit");
        limit.rlim_cur = opt.rlimit_values[i];
        if (setrlimit(opt.rlimit_names[i], &limit)) die("cannot set the requested limit");
    }
}

#define KEYCTL_JOIN_SESSION_KEYRING 1
#define KEYCTL_SET_REQKEY_KEYRING 14
#define KEY_SPEC_SESSION_KEYRING (-3)
#define KEY_REQKEY_DEFL_SESSION_KEYRING 3
#define SET_MDWE 65
#define MDWE_REFUSE_EXEC_GAIN 1
#define SET_MEMORY_MERGE 67
#define SCHED_FLAG_KEEP_ALL 0x18
#define SCHED_FLAG_UTIL_CLAMP_MAX 0x40

/* A service manager's start: nothing of whoever started the manager. */
static void start_session(void) {
    if (setsid() == -1) die("setsid");
    syscall(SYS_keyctl, KEYCTL_JOIN_SESSION_KEYRING, NULL);  /* no keys in this kernel: none to leave */
    umask(022);
    for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
}

static int write_text(const char* path, const char* text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd == -1) return -1;
    ssize_t n = write(fd, text, strlen(text));
    close(fd);
    return n == (ssize_t)strlen(text) ? 0 : -1;
}

/* The files of a cgroup its delegate owns, as a service manager hands them over. */
static void delegate_cgroup(void) {
    static const char* const owned[] = {"", "/cgroup.procs", "/cgroup.threads", "/cgroup.subtree_control"};
    char path[512];
    snprintf(path, sizeof path, "/sys/fs/cgroup/%s", opt.delegate);
    if (mkdir(path, 0755) != 0) die("cannot make the delegated cgroup");
    for (size_t i = 0; i < sizeof owned / sizeof *owned; ++i) {
        snprintf(path, sizeof path, "/sys/fs/cgroup/%s%s", opt.delegate, owned[i]);
        if (chown(path, opt.uid, opt.gid) != 0) die("cannot hand the cgroup over");
    }
    snprintf(path, sizeof path, "/sys/fs/cgroup/%s/cgroup.procs", opt.delegate);
    if (write_text(path, "0") != 0) die("cannot enter the delegated cgroup");  /* "0": the writer */
}

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
    struct kernel_sched_attr clamp = {.size = sizeof clamp, .flags = SCHED_FLAG_KEEP_ALL | SCHED_FLAG_UTIL_CLAMP_MAX,
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
 * but interval timers. The identity change made the process undumpable,
 * which an exec would not have: its /proc/self files would be root's. */
static void become_hostile(void) {
    prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
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
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        signal(sig, SIG_IGN);
        sigaddset(&opt.blocked, sig);
    }
    umask(077);
}

static void parse_options(int argc, char** argv) {
    int i = 1;
    for (; i < argc && strcmp(argv[i], "--"); ++i) {
        const char* o = argv[i];
        char* v = i + 1 < argc ? argv[i + 1] : NULL;
        if (!strcmp(o, "--no-argv")) { opt.no_argv = 1; continue; }
        if (!strcmp(o, "--session")) { opt.session = 1; continue; }
        if (!strcmp(o, "--hostile")) { opt.hostile = 1; continue; }
        if (!v) die("option needs a value");
        ++i;
        if (!strcmp(o, "--user")) parse_user(v);
        else if (!strcmp(o, "--argv0")) opt.argv0 = v;
        else if (!strcmp(o, "--cwd")) opt.cwd = v;
        else if (!strcmp(o, "--env") && opt.env_count < (int)(sizeof opt.env / sizeof *opt.env) - 1)
            opt.env[opt.env_count++] = v;
        else if (!strcmp(o, "--close") && opt.close_count < MAX_LIST) opt.close_fds[opt.close_count++] = atoi(v);
        else if (!strcmp(o, "--ignore") && opt.ignored_count < MAX_LIST) opt.ignored[opt.ignored_count++] = atoi(v);
        else if (!strcmp(o, "--block")) sigaddset(&opt.blocked, atoi(v));
        else if (!strcmp(o, "--timeout")) opt.timeout = atof(v);
        else if (!strcmp(o, "--signal")) opt.signal = atoi(v);
        else if (!strcmp(o, "--linger")) opt.linger = atof(v);
        else if (!strcmp(o, "--result")) opt.result = v;
        else if (!strcmp(o, "--rlimit")) parse_rlimit(v);
        else if (!strcmp(o, "--delegate")) opt.delegate = v;
        else die("unknown option");
    }
    if (i + 1 >= argc) die("no command");
    if (opt.session) opt.group_count = 0;
    opt.command = argv + i + 1;
}

static void write_result(int status, double elapsed) {
    if (!opt.result) return;
    FILE* f = fopen(opt.result, "we");
    if (!f) return;
    fprintf(f, "status=%d\nelapsed_ms=%.0f\n", status, elapsed * 1000);
    fclose(f);
}

int main(int argc, char** argv) {
    sigemptyset(&opt.blocked);
    parse_options(argc, argv);
    sigset_t chld;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    sigprocmask(SIG_BLOCK, &chld, NULL);

    const pid_t keeper = start_clock_keeper();
    char* path = opt.command[0];
    double start = now_seconds();
    pid_t command = fork();
    if (command == -1) die("fork");
    if (command == 0) {
        opt.command[0] = opt.argv0 ? (char*)opt.argv0 : path;
        closefrom(3);  /* the command sees 0-2 only, whatever the test runner leaked */
        if (opt.session) start_session();
        if (opt.delegate) delegate_cgroup();
        for (int i = 0; i < opt.close_count; ++i) close(opt.close_fds[i]);
        if (setgroups((size_t)opt.group_count, opt.groups) || setgid(opt.gid) || setuid(opt.uid))
            die("cannot take the requested identity");
        if (chdir(opt.cwd)) die("cannot enter the working directory");
        if (opt.hostile) become_hostile();
        apply_rlimits();
        for (int i = 0; i < opt.ignored_count; ++i) signal(opt.ignored[i], SIG_IGN);
        sigprocmask(SIG_SETMASK, &opt.blocked, NULL);
        char* empty[] = {NULL};
        execve(path, opt.no_argv ? empty : opt.command, opt.env);
        die("cannot execute the command");
    }

    int exit_status = -1;
    int signalled = 0;
    double deadline = 0;
    for (;;) {
        int status;
        pid_t pid;
        while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
            if (pid != command) continue;
            exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            write_result(exit_status, now_seconds() - start);
            deadline = now_seconds() + opt.linger;
        }
        if (pid == -1 && errno == ECHILD) break;
        double now = now_seconds();
        if (exit_status >= 0 && now >= deadline) break;
        if (exit_status < 0 && opt.timeout > 0 && !signalled && now - start >= opt.timeout) {
            kill(command, opt.signal);
            signalled = 1;
        }
        double wait = exit_status >= 0 ? deadline - now
                      : (opt.timeout > 0 && !signalled) ? start + opt.timeout - now
                                                        : 3600;
        if (wait < 0.001) wait = 0.001;
        struct timespec ts = {(time_t)wait, (long)((wait - (double)(time_t)wait) * 1e9)};
        sigtimedwait(&chld, NULL, &ts);
    }
    kill(keeper, SIGKILL);
    return exit_status < 0 ? 125 : exit_status;
}
