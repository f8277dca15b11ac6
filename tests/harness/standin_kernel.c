/*
 * The kernel's whole view of the stand-in's process, as fields whose keys
 * start with "k.", so that a test can compare two starts attribute by
 * attribute and a new attribute shows up without a new check:
 *   k.status.NAME   each line of /proc/self/status
 *   k.stat.N        each field of /proc/self/stat, by its 1-based position
 *   k.sched.NAME    each "name : value" line of /proc/self/sched
 *   k.limits.NAME   each line of /proc/self/limits ("soft hard")
 *   k.ns.NAME       each namespace, as /proc/self/ns names it
 *   k.prctl.NAME    each prctl query this kernel answers (EINVAL: left out)
 *   k.FILE, k.itimer.*, k.sched_attr.*, k.keys.*, k.sigaltstack, ... below
 * A query that fails otherwise records "errno N", the same on both sides.
 */

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include "common/sched_attr.h"
#include "standin.h"

/* Newer than some C libraries' headers. */
#define Q_GET_MDWE 66
#define Q_GET_MEMORY_MERGE 68
#define Q_GET_SHADOW_STACK_STATUS 74
#define Q_FUTEX_HASH 78
#define Q_FUTEX_HASH_GET_SLOTS 2
#define Q_SCHED_CORE 62
#define KEYCTL_DESCRIBE 6
#define KEYCTL_READ 11
#define KEYCTL_SET_REQKEY_KEYRING 14
#define KEY_SPEC_SESSION_KEYRING (-3)
#define KEY_REQKEY_DEFL_NO_CHANGE (-1)

static void field_errno(const char* key) { field(key, "errno %d", errno); }

static char* trim(char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    size_t n = strlen(text);
    while (n && (text[n - 1] == ' ' || text[n - 1] == '\t' || text[n - 1] == '\n')) text[--n] = '\0';
    return text;
}

/* A whole small file, without its last newline; NULL when unreadable. */
static char* read_file(const char* path, char* buf, size_t size) {
    FILE* f = fopen(path, "re");
    if (!f) return NULL;
    size_t n = fread(buf, 1, size - 1, f);
    fclose(f);
    buf[n] = '\0';
    if (n && buf[n - 1] == '\n') buf[n - 1] = '\0';
    return buf;
}

/* Lines "NAME<separator>VALUE" of a /proc file as PREFIX.NAME fields. */
static void record_named_lines(const char* path, const char* prefix, char separator, int skip_lines) {
    FILE* f = fopen(path, "re");
    if (!f) return;
    char line[1024], key[300];
    for (int number = 0; fgets(line, sizeof line, f); ++number) {
        char* sep = strchr(line, separator);
        if (number < skip_lines || !sep) continue;
        *sep = '\0';
        snprintf(key, sizeof key, "%s.%s", prefix, trim(line));
        field_text(key, trim(sep + 1));
    }
    fclose(f);
}

/* The comm field is in parentheses and may hold spaces and parentheses itself. */
static void record_stat(void) {
    char buf[4096], key[32];
    if (!read_file("/proc/self/stat", buf, sizeof buf)) return;
    char* open = strchr(buf, '(');
    char* close = strrchr(buf, ')');
    if (!open || !close) return;
    *open = *close = '\0';
    field_text("k.stat.1", trim(buf));
    field_text("k.stat.2", open + 1);
    int position = 3;
    for (char* word = strtok(close + 1, " "); word; word = strtok(NULL, " ")) {
        snprintf(key, sizeof key, "k.stat.%d", position++);
        field_text(key, word);
    }
}

/* Resource limits by name, with the name's spaces as underscores. */
static void record_limits(void) {
    FILE* f = fopen("/proc/self/limits", "re");
    if (!f) return;
    char line[256], key[64], soft[32], hard[32];
    for (int number = 0; fgets(line, sizeof line, f); ++number) {
        if (number == 0 || strlen(line) < 26) continue;
        line[25] = '\0';
        snprintf(key, sizeof key, "k.limits.%s", trim(line));
        for (char* c = key; *c; ++c)
            if (*c == ' ') *c = '_';
        if (sscanf(line + 26, "%31s %31s", soft, hard) == 2) field(key, "%s %s", soft, hard);
    }
    fclose(f);
}

static void record_namespaces(void) {
    DIR* dir = opendir("/proc/self/ns");
    if (!dir) return;
    for (struct dirent* e; (e = readdir(dir));) {
        char link[300], target[128] = "", key[300];
        if (e->d_name[0] == '.') continue;
        snprintf(link, sizeof link, "/proc/self/ns/%s", e->d_name);
        ssize_t n = readlink(link, target, sizeof target - 1);
        target[n > 0 ? n : 0] = '\0';
        snprintf(key, sizeof key, "k.ns.%s", e->d_name);
        field_text(key, target);
    }
    closedir(dir);
}

/* Small /proc/self files, whole. */
static void record_proc_files(void) {
    static const char* const names[] = {"personality", "timerslack_ns", "oom_score_adj", "coredump_filter",
                                        "cgroup",      "loginuid",      "sessionid",     "setgroups",
                                        "timers",      "timens_offsets", "attr/current"};
    char buf[4096], key[64], path[64];
    for (size_t i = 0; i < sizeof names / sizeof *names; ++i) {
        snprintf(path, sizeof path, "/proc/self/%s", names[i]);
        snprintf(key, sizeof key, "k.%s", names[i]);
        if (read_file(path, buf, sizeof buf)) field_text(key, buf);
    }
    /* "/autogroup-ID nice N": the id is the session's, the nice the session's too. */
    int id, nice;
    if (read_file("/proc/self/autogroup", buf, sizeof buf) && sscanf(buf, "/autogroup-%d nice %d", &id, &nice) == 2) {
        field("k.autogroup.id", "%d", id);
        field("k.autogroup.nice", "%d", nice);
    }
}

struct query {
    const char* name;
    int option;
    unsigned long arg2;
    int by_pointer;  /* the answer is written through arg2, not returned */
};

static void record_prctl(void) {
    static const struct query queries[] = {
        {"pdeathsig", PR_GET_PDEATHSIG, 0, 1},
        {"dumpable", PR_GET_DUMPABLE, 0, 0},
        {"unalign", PR_GET_UNALIGN, 0, 1},
        {"keepcaps", PR_GET_KEEPCAPS, 0, 0},
        {"fpemu", PR_GET_FPEMU, 0, 1},
        {"fpexc", PR_GET_FPEXC, 0, 1},
        {"timing", PR_GET_TIMING, 0, 0},
        {"endian", PR_GET_ENDIAN, 0, 1},
        {"seccomp", PR_GET_SECCOMP, 0, 0},
        {"tsc", PR_GET_TSC, 0, 1},
        {"securebits", PR_GET_SECUREBITS, 0, 0},
        {"timerslack", PR_GET_TIMERSLACK, 0, 0},
        {"mce_kill", PR_MCE_KILL_GET, 0, 0},
        {"child_subreaper", PR_GET_CHILD_SUBREAPER, 0, 1},
        {"no_new_privs", PR_GET_NO_NEW_PRIVS, 0, 0},
        {"thp_disable", PR_GET_THP_DISABLE, 0, 0},
        {"fp_mode", PR_GET_FP_MODE, 0, 0},
        {"sve_vl", PR_SVE_GET_VL, 0, 0},
        {"spec_store_bypass", PR_GET_SPECULATION_CTRL, PR_SPEC_STORE_BYPASS, 0},
        {"spec_indirect_branch", PR_GET_SPECULATION_CTRL, PR_SPEC_INDIRECT_BRANCH, 0},
        {"spec_l1d_flush", PR_GET_SPECULATION_CTRL, PR_SPEC_L1D_FLUSH, 0},
        {"tagged_addr_ctrl", PR_GET_TAGGED_ADDR_CTRL, 0, 0},
        {"io_flusher", PR_GET_IO_FLUSHER, 0, 0},
        {"mdwe", Q_GET_MDWE, 0, 0},
        {"memory_merge", Q_GET_MEMORY_MERGE, 0, 0},
        {"shadow_stack", Q_GET_SHADOW_STACK_STATUS, 0, 1},
        {"futex_hash_slots", Q_FUTEX_HASH, Q_FUTEX_HASH_GET_SLOTS, 0},
    };
    char key[64];
    for (size_t i = 0; i < sizeof queries / sizeof *queries; ++i) {
        const struct query* q = &queries[i];
        unsigned long answer = 0;
        long r = prctl(q->option, q->by_pointer ? (unsigned long)&answer : q->arg2, 0, 0, 0);
        if (r == -1 && errno == EINVAL) continue;
        snprintf(key, sizeof key, "k.prctl.%s", q->name);
        if (r == -1) field_errno(key);
        else field(key, "%lu", q->by_pointer ? answer : (unsigned long)r);
    }
    /* Core scheduling: the cookie's identity cannot be compared, only whether there is one. */
    unsigned long long cookie = 0;
    if (prctl(Q_SCHED_CORE, 0 /* GET */, 0, 0 /* PIDTYPE_PID */, (unsigned long)&cookie) == 0)
        field("k.prctl.sched_core", "%s", cookie ? "cookie" : "none");
    else if (errno != EINVAL) field_errno("k.prctl.sched_core");
}

static void record_timers(void) {
    static const struct {
        const char* name;
        int which;
    } timers[] = {{"real", ITIMER_REAL}, {"virtual", ITIMER_VIRTUAL}, {"prof", ITIMER_PROF}};
    char key[32];
    for (size_t i = 0; i < 3; ++i) {
        struct itimerval t;
        snprintf(key, sizeof key, "k.itimer.%s", timers[i].name);
        if (getitimer(timers[i].which, &t) != 0) {
            field_errno(key);
            continue;
        }
        int on = t.it_value.tv_sec || t.it_value.tv_usec;
        field(key, "%s interval %lld.%06ld", on ? "armed" : "disarmed", (long long)t.it_interval.tv_sec,
              (long)t.it_interval.tv_usec);
    }
}

static void record_scheduling_attributes(void) {
    struct kernel_sched_attr a;
    memset(&a, 0, sizeof a);
    if (syscall(SYS_sched_getattr, 0, &a, sizeof a, 0) != 0) {
        field_errno("k.sched_attr");
        return;
    }
    field("k.sched_attr.policy", "%u", a.policy);
    field("k.sched_attr.flags", "%llu", (unsigned long long)a.flags);
    field("k.sched_attr.nice", "%d", a.nice);
    field("k.sched_attr.priority", "%u", a.priority);
    field("k.sched_attr.runtime", "%llu", (unsigned long long)a.runtime);
    field("k.sched_attr.deadline", "%llu", (unsigned long long)a.deadline);
    field("k.sched_attr.period", "%llu", (unsigned long long)a.period);
    if (a.size >= sizeof a) field("k.sched_attr.util", "%u %u", a.util_min, a.util_max);
    field("k.ioprio", "%ld", syscall(SYS_ioprio_get, 1 /* IOPRIO_WHO_PROCESS */, 0));
    unsigned long nodes[16] = {0};
    int mode = 0;
    if (syscall(SYS_get_mempolicy, &mode, nodes, sizeof nodes * CHAR_BIT, NULL, 0) == 0)
        field("k.mempolicy", "%d %lx", mode, nodes[0]);
    else if (errno != ENOSYS) field_errno("k.mempolicy");
}

/* Session and process group: whether it leads them, not their numbers (its
 * terminal is k.stat.7). */
static void record_session(void) {
    stack_t stack;
    if (sigaltstack(NULL, &stack) == 0) field("k.sigaltstack", "flags %d size %zu", stack.ss_flags, stack.ss_size);
    pid_t pid = getpid();
    field("k.sid_leader", "%d", getsid(0) == pid);
    field("k.pgrp_leader", "%d", getpgrp() == pid);
}

/* The session keyring and its keys, through the system call: no library. */
static void record_keys(void) {
    char description[512];
    long n = syscall(SYS_keyctl, KEYCTL_DESCRIBE, KEY_SPEC_SESSION_KEYRING, description, sizeof description);
    if (n < 0) field_errno("k.keys.session");
    else field_text("k.keys.session", description);
    int32_t serials[64];
    n = syscall(SYS_keyctl, KEYCTL_READ, KEY_SPEC_SESSION_KEYRING, serials, sizeof serials);
    if (n < 0) field_errno("k.keys.session_keys");
    for (long i = 0; n > 0 && i < n / (long)sizeof *serials && i < 64; ++i) {
        if (syscall(SYS_keyctl, KEYCTL_DESCRIBE, serials[i], description, sizeof description) < 0)
            field_errno("k.keys.session_keys");
        else field_text("k.keys.session_keys", description);
    }
    long reqkey = syscall(SYS_keyctl, KEYCTL_SET_REQKEY_KEYRING, KEY_REQKEY_DEFL_NO_CHANGE);
    if (reqkey < 0) field_errno("k.keys.reqkey_default");
    else field("k.keys.reqkey_default", "%ld", reqkey);
}

void record_kernel_view(void) {
    record_named_lines("/proc/self/status", "k.status", ':', 0);
    record_stat();
    record_named_lines("/proc/self/sched", "k.sched", ':', 1);
    record_limits();
    record_namespaces();
    record_proc_files();
    record_prctl();
    record_timers();
    record_scheduling_attributes();
    record_session();
    record_keys();
}
