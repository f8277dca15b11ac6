/*
 * standin: one stand-in for every outside program of the device (system
 * tools, init scripts, the game, supervised programs). Each run appends one
 * record of what it saw to /records/log inside the device root, then behaves
 * as /etc/standin/<its name> tells it. Tests assert on the records.
 *
 * Record: one line of TAB-separated key=value fields, values escaped (\\, \t,
 * \n and bytes outside printable ASCII as \xHH); list fields repeat the key.
 * Each open descriptor is one field fd=N:TARGET:DEVICE, TARGET what
 * /proc/self/fd/N names and DEVICE "char MAJOR,MINOR" for a character device,
 * "-" for anything else (a bind-mounted /dev/null may have another name).
 * The k.* fields are the kernel's whole view of the process (standin_kernel.c):
 * its ids, groups, signal state, umask, limits and priorities among them.
 *
 * Control file lines (all optional):
 *   exit N          exit status (default 0)
 *   sleep MS        sleep this long before ending (SIGTERM still recorded)
 *   kill SIG        end by this signal instead of exiting
 *   remove-after N  on the Nth run, unlink the executable (argv[0])
 *   write N         write N bytes to /records/<its name>.out, created anew
 */

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include "standin.h"

#define LOG_PATH "/records/log"
#define CONTROL_DIR "/etc/standin/"

extern char** environ;

struct control {
    int exit_code;
    long sleep_ms;
    int kill_signal;
    long remove_after;
    long write_bytes;
};

static volatile sig_atomic_t got_sigterm;

static struct {
    char* data;
    size_t length, capacity;
} rec;

static void put_raw(const char* text, size_t n) {
    if (rec.length + n + 1 > rec.capacity) {
        rec.capacity = (rec.length + n + 1) * 2;
        rec.data = realloc(rec.data, rec.capacity);
        if (!rec.data) abort();
    }
    memcpy(rec.data + rec.length, text, n);
    rec.length += n;
}

static void put_escaped(const char* text) {
    for (const unsigned char* p = (const unsigned char*)text; *p; ++p) {
        char buf[8];
        if (*p == '\\') put_raw("\\\\", 2);
        else if (*p == '\t') put_raw("\\t", 2);
        else if (*p == '\n') put_raw("\\n", 2);
        else if (*p < 0x20 || *p >= 0x7f) put_raw(buf, (size_t)snprintf(buf, sizeof buf, "\\x%02x", *p));
        else put_raw((const char*)p, 1);
    }
}

void field(const char* key, const char* format, ...) {
    char value[PATH_MAX + 64];
    va_list ap;
    va_start(ap, format);
    vsnprintf(value, sizeof value, format, ap);
    va_end(ap);
    if (rec.length) put_raw("\t", 1);
    put_raw(key, strlen(key));
    put_raw("=", 1);
    put_escaped(value);
}

void field_text(const char* key, const char* value) {
    if (rec.length) put_raw("\t", 1);
    put_raw(key, strlen(key));
    put_raw("=", 1);
    put_escaped(value);
}

static long long monotonic_ms(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

/* One write per record, under a lock, so records never interleave. */
static void flush_record(void) {
    put_raw("\n", 1);
    mode_t old = umask(0);
    int fd = open(LOG_PATH, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    umask(old);
    if (fd == -1) {
        perror("standin: " LOG_PATH);
        return;
    }
    flock(fd, LOCK_EX);
    if (write(fd, rec.data, rec.length) != (ssize_t)rec.length) perror("standin: write");
    close(fd);
    rec.length = 0;
}

static void record_fds(void) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) {
        field_text("fd", "unreadable");
        return;
    }
    struct dirent* entry;
    while ((entry = readdir(dir))) {
        if (entry->d_name[0] == '.' || atoi(entry->d_name) == dirfd(dir)) continue;
        char link[300], target[PATH_MAX] = "";
        snprintf(link, sizeof link, "/proc/self/fd/%s", entry->d_name);
        ssize_t n = readlink(link, target, sizeof target - 1);
        target[n > 0 ? n : 0] = '\0';
        struct stat st;
        if (fstat(atoi(entry->d_name), &st) == 0 && S_ISCHR(st.st_mode))
            field("fd", "%s:%s:char %u,%u", entry->d_name, target, major(st.st_rdev), minor(st.st_rdev));
        else
            field("fd", "%s:%s:-", entry->d_name, target);
    }
    closedir(dir);
}

/* Writes N bytes as one file of this tool's, checking every write. */
static void write_output(const char* name, long bytes) {
    char path[PATH_MAX], block[4096];
    snprintf(path, sizeof path, "/records/%s.out", name);
    memset(block, 'k', sizeof block);
    unlink(path);
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd == -1) {
        perror(path);
        exit(2);
    }
    for (long left = bytes; left > 0;) {
        ssize_t n = write(fd, block, left < (long)sizeof block ? (size_t)left : sizeof block);
        if (n <= 0) {
            perror(path);
            exit(2);
        }
        left -= n;
    }
    close(fd);
}

static const char* tool_name(int argc, char** argv) {
    if (argc < 1 || !argv[0]) return "unnamed";
    const char* slash = strrchr(argv[0], '/');
    return slash ? slash + 1 : argv[0];
}

static void read_control(const char* name, struct control* c) {
    char path[PATH_MAX];
    snprintf(path, sizeof path, CONTROL_DIR "%s", name);
    FILE* f = fopen(path, "re");
    if (!f) return;
    char key[32];
    long value;
    while (fscanf(f, "%31s %ld", key, &value) == 2) {
        if (!strcmp(key, "exit")) c->exit_code = (int)value;
        else if (!strcmp(key, "sleep")) c->sleep_ms = value;
        else if (!strcmp(key, "kill")) c->kill_signal = (int)value;
        else if (!strcmp(key, "remove-after")) c->remove_after = value;
        else if (!strcmp(key, "write")) c->write_bytes = value;
    }
    fclose(f);
}

/* Counts this tool's runs across processes, for remove-after. */
static long next_run_number(const char* name) {
    char path[PATH_MAX];
    snprintf(path, sizeof path, "/records/%s.runs", name);
    mode_t old = umask(0);
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    umask(old);
    if (fd == -1) return 0;
    flock(fd, LOCK_EX);
    char buf[32] = "";
    ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
    long runs = atol(n > 0 ? buf : "0") + 1;
    int len = snprintf(buf, sizeof buf, "%ld\n", runs);
    if (pwrite(fd, buf, (size_t)len, 0) != len) runs = 0;
    close(fd);
    return runs;
}

static void on_sigterm(int sig) {
    (void)sig;
    got_sigterm = 1;
}

static void record_sigterm_and_die(const char* name) {
    field_text("tool", name);
    field_text("event", "signal");
    field("pid", "%d", getpid());
    field("signal", "%d", SIGTERM);
    field("time_ms", "%lld", monotonic_ms());
    flush_record();
    signal(SIGTERM, SIG_DFL);
    raise(SIGTERM);
    _exit(143);
}

int main(int argc, char** argv) {
    const char* name = tool_name(argc, argv);
    /* Ask before recording, so a SIGTERM arriving now is not lost. */
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_sigterm;
    sigaction(SIGTERM, &sa, NULL);

    long run = next_run_number(name);
    field_text("tool", name);
    field_text("event", "start");
    field("run", "%ld", run);
    field("pid", "%d", getpid());
    field("ppid", "%d", getppid());
    field("time_ms", "%lld", monotonic_ms());
    for (int i = 0; i < argc; ++i) field_text("argv", argv[i]);
    char exe[PATH_MAX];
    ssize_t exe_length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    exe[exe_length > 0 ? exe_length : 0] = '\0';
    field_text("exe", exe);  /* which file ran, whatever argv[0] claims */
    char cwd[PATH_MAX];
    field_text("cwd", getcwd(cwd, sizeof cwd) ? cwd : "?");
    for (char** e = environ; e && *e; ++e) field_text("env", *e);
    record_fds();
    record_kernel_view();
    flush_record();

    struct control c = {0, 0, 0, 0, 0};
    read_control(name, &c);
    if (c.write_bytes > 0) write_output(name, c.write_bytes);
    if (c.remove_after > 0 && run == c.remove_after && argc > 0) unlink(argv[0]);

    struct timespec pause = {c.sleep_ms / 1000, (c.sleep_ms % 1000) * 1000000};
    while (!got_sigterm && nanosleep(&pause, &pause) == -1 && errno == EINTR) {
    }
    if (got_sigterm) record_sigterm_and_die(name);
    if (c.kill_signal) {
        signal(c.kill_signal, SIG_DFL);
        raise(c.kill_signal);
    }
    return c.exit_code;
}
