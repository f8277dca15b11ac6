/*
 * devroot-init: process 1 of a device root's PID namespace, and the last
 * step of the chain of tools that starts a command there.
 *
 * usage: init [--linger S] [--result FILE] [--timeout S [--signal N]] [--logger] -- command [arg...]
 *   Starts the command with descriptors 0-2 only and no signal blocked,
 *   reaps everything, and when the command has ended waits up to --linger
 *   seconds for the rest before ending the namespace (which kills what is
 *   left). The run's helpers, the processes there before this one (the
 *   kernel log's reader, the logger of --logger), are not waited for: a last
 *   line through each, once they wrote it, shows that they wrote all before it.
 *   --timeout S --signal N   send signal N (default 9) to the command after S seconds
 *   --result FILE            write the command's "status=", "started_ms="
 *                            (CLOCK_MONOTONIC) and "elapsed_ms=" there
 *   The exit status is the command's (128 + signal when it was killed).
 *
 * usage: init --exec [--argv0 TEXT | --no-argv] [--env NAME=VALUE]... [--close FD]... [--session] [--hostile]
 *                   -- command [arg...]
 *   Sets on itself what no tool sets, then becomes the command: the step
 *   after env, setsid, setpriv and prlimit. Linked statically, as a caller's
 *   RLIMIT_NOFILE of 0 would leave a loader no descriptor; and it alone
 *   gives the command the caller's environment, which would steer the tools'
 *   loader (LD_PRELOAD).
 *   --argv0 TEXT  argv[0] for the command (default: the path)
 *   --no-argv     start the command with an empty argv
 *   --env NAME=VALUE  the command's environment (repeatable; default none)
 *   --close FD    start it with FD closed (repeatable)
 *   --session     what a service manager gives a service besides its own
 *                 session, no groups and default signals: a new anonymous
 *                 session keyring and umask 022
 *   --hostile     set everything an unprivileged process can set on itself
 *                 that survives exec (interval timers excepted): see
 *                 become_hostile(). What this kernel refuses is skipped
 *
 * Before the command starts, a seccomp filter goes on process 1 and so on
 * all it starts: the clock keeper (clock_keeper.c), a child of process 1,
 * answers every clock_settime() without setting the host's clock, and
 * records it. A device root never runs without it.
 */

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "clock_keeper.h"
#include "common/sched_attr.h"

__attribute__((noreturn)) static void die(const char* message) {
    fprintf(stderr, "devroot-init: %s\n", message);
    exit(125);
}

static double now_seconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
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

/* init --exec: argv[i] is the first option. */
__attribute__((noreturn)) static void exec_step(int argc, char** argv, int i) {
    const char* argv0 = NULL;
    int no_argv = 0, hostile = 0, vars = 0;
    char** env = calloc((size_t)argc, sizeof *env);
    for (; i < argc && strcmp(argv[i], "--"); ++i) {
        if (!strcmp(argv[i], "--no-argv")) no_argv = 1;
        else if (!strcmp(argv[i], "--hostile")) hostile = 1;
        else if (!strcmp(argv[i], "--session")) {
            syscall(SYS_keyctl, KEYCTL_JOIN_SESSION_KEYRING, NULL);  /* no keys in this kernel: none to leave */
            umask(022);
        } else if (i + 1 < argc && !strcmp(argv[i], "--argv0")) argv0 = argv[++i];
        else if (i + 1 < argc && !strcmp(argv[i], "--close")) close(atoi(argv[++i]));
        else if (i + 1 < argc && !strcmp(argv[i], "--env")) env[vars++] = argv[++i];
        else die("unknown --exec option");
    }
    if (i + 1 >= argc) die("no command");
    char** command = argv + i + 1;
    char* path = command[0];
    if (argv0) command[0] = (char*)argv0;
    if (hostile) become_hostile();
    char* empty[] = {NULL};
    execve(path, no_argv ? empty : command, env);
    die("cannot execute the command");
}

static pid_t helpers[16];
static int helper_count;

/* How many processes of the namespace are neither this one nor a helper;
 * with `remember`, every such process becomes a helper. */
static int others(int remember) {
    int count = 0;
    DIR* proc = opendir("/proc");
    for (struct dirent* e; proc && (e = readdir(proc));) {
        pid_t pid = (pid_t)atoi(e->d_name);
        int known = pid <= 1;
        for (int i = 0; i < helper_count; ++i) known |= helpers[i] == pid;
        if (known) continue;
        if (remember && helper_count < (int)(sizeof helpers / sizeof *helpers)) helpers[helper_count++] = pid;
        else ++count;
    }
    if (proc) closedir(proc);
    return count;
}

#define END_OF_RUN "devroot: end of run"

static int holds_end(const char* path) {
    FILE* f = fopen(path, "re");
    char line[8192];
    int found = 0;
    while (f && !found && fgets(line, sizeof line, f)) found = strstr(line, END_OF_RUN) != NULL;
    if (f) fclose(f);
    return found;
}

/* The logger and the kernel log's reader write on their own time: each gets
 * a last line, waited for up to 10 s (a loaded machine). rsyslog writes its
 * two files in turn; busybox syslogd only the first. */
static void flush_helpers(int logger) {
    int kmsg = open("/dev/kmsg", O_WRONLY | O_NONBLOCK | O_CLOEXEC);  /* ENXIO: no reader */
    int reader = kmsg >= 0 && write(kmsg, END_OF_RUN "\n", sizeof END_OF_RUN) == sizeof END_OF_RUN;
    if (kmsg >= 0) close(kmsg);
    if (logger) {
        struct sockaddr_un log = {.sun_family = AF_UNIX, .sun_path = "/dev/log"};
        int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        logger = sendto(s, "<13>" END_OF_RUN, sizeof END_OF_RUN + 3, 0, (struct sockaddr*)&log, sizeof log) > 0;
        close(s);
    }
    for (double until = now_seconds() + 10; now_seconds() < until; usleep(20000))
        if ((!reader || holds_end("/records/kmsg")) &&
            (!logger || (holds_end("/records/syslog") &&
                         (access("/records/syslog-trusted", F_OK) || holds_end("/records/syslog-trusted")))))
            return;
}

int main(int argc, char** argv) {
    if (argc > 1 && !strcmp(argv[1], "--exec")) exec_step(argc, argv, 2);
    double timeout = 0, linger = 0;
    int sig = SIGKILL, logger = 0, i = 1;
    const char* result = NULL;
    for (; i < argc && strcmp(argv[i], "--"); ++i) {
        if (!strcmp(argv[i], "--logger")) logger = 1;
        else if (i + 1 >= argc) die("option needs a value");
        else if (!strcmp(argv[i], "--timeout")) timeout = atof(argv[++i]);
        else if (!strcmp(argv[i], "--signal")) sig = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--linger")) linger = atof(argv[++i]);
        else if (!strcmp(argv[i], "--result")) result = argv[++i];
        else die("unknown option");
    }
    if (i + 1 >= argc) die("no command");
    char** command_argv = argv + i + 1;

    sigset_t chld, before;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    sigprocmask(SIG_BLOCK, &chld, &before);
    others(1);
    const pid_t keeper = start_clock_keeper();
    helpers[helper_count++] = keeper;
    double start = now_seconds();
    pid_t command = fork();
    if (command == -1) die("fork");
    if (command == 0) {
        closefrom(3);  /* the command sees 0-2 only, whatever the test runner leaked */
        sigprocmask(SIG_SETMASK, &before, NULL);
        execv(command_argv[0], command_argv);
        die("cannot execute the command");
    }

    int exit_status = -1, signalled = 0;
    double deadline = 0;
    for (;;) {
        int status;
        pid_t pid;
        while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
            if (pid != command) continue;
            exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            FILE* f = result ? fopen(result, "we") : NULL;
            if (f) fprintf(f, "status=%d\nstarted_ms=%.0f\nelapsed_ms=%.0f\n", exit_status, start * 1000,
                           (now_seconds() - start) * 1000);
            if (f) fclose(f);
            deadline = now_seconds() + linger;
        }
        double now = now_seconds();
        if (exit_status >= 0 && (now >= deadline || others(0) == 0)) break;
        if (exit_status < 0 && timeout > 0 && !signalled && now - start >= timeout) {
            kill(command, sig);
            signalled = 1;
        }
        double wait = exit_status >= 0 ? deadline - now : (timeout > 0 && !signalled) ? start + timeout - now : 3600;
        if (wait < 0.001) wait = 0.001;
        struct timespec ts = {(time_t)wait, (long)((wait - (double)(time_t)wait) * 1e9)};
        sigtimedwait(&chld, NULL, &ts);
    }
    if (helper_count > 1) flush_helpers(logger);
    kill(keeper, SIGKILL);
    return exit_status;
}
