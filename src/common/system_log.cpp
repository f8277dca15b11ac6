#include "common/system_log.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

constexpr char LOGGER_PATH[] = "/dev/log";
// Fits every logger's line limit, whatever the caller passed.
constexpr std::size_t LINE_MAX_BYTES = 1024;
constexpr std::size_t ARGUMENT_MAX_BYTES = 64;
constexpr std::size_t ARGUMENTS_MAX_BYTES = 400;

struct Caller {
    char text[LINE_MAX_BYTES / 2];
};

std::size_t append_text(char* out, std::size_t used, std::size_t size, const char* text) {
    const int n = std::snprintf(out + used, size - used, "%s", text);
    return n < 0 ? used : std::min(size - 1, used + static_cast<std::size_t>(n));
}

// The program that ran us: our parent's executable, as the kernel names it.
std::size_t append_parent(char* out, std::size_t used, std::size_t size) {
    char link[32], path[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(getppid()));
    const ssize_t length = readlink(link, path, sizeof path - 1);
    path[length > 0 ? length : 0] = '\0';
    return append_escaped(out, used, size, length > 0 ? path : "?", ARGUMENTS_MAX_BYTES / 2, true);
}

// The arguments, each escaped and cut to ARGUMENT_MAX_BYTES, as many as fit
// in ARGUMENTS_MAX_BYTES; " ..." where some were left out.
std::size_t append_arguments(char* out, std::size_t used, std::size_t size, const AppletArgs& args) {
    const std::size_t end = std::min(size, used + ARGUMENTS_MAX_BYTES);
    for (int i = 0; i < args.count; ++i) {
        // Room for one more, and for the mark after it.
        if (i > 0 && used + 1 + ARGUMENT_MAX_BYTES + 4 >= end) return append_text(out, used, end, " ...");
        if (i > 0) used = append_text(out, used, end, " ");
        used = append_escaped(out, used, end, args.args[i], ARGUMENT_MAX_BYTES, true);
    }
    return used;
}

Caller describe_caller(const AppletArgs& args) {
    Caller caller{};
    char* out = caller.text;
    const std::size_t size = sizeof caller.text;
    const passwd* account = getpwuid(getuid());
    std::size_t used = static_cast<std::size_t>(std::snprintf(out, size, "uid=%u user=", getuid()));
    used = append_escaped(out, used, size, account ? account->pw_name : "?", ARGUMENT_MAX_BYTES, true);
    used += static_cast<std::size_t>(std::snprintf(out + used, size - used, " pid=%d parent=", getpid()));
    used = append_parent(out, used, size);
    used = append_text(out, used, size, " args=");
    append_arguments(out, used, size, args);
    return caller;
}

// Who asked: read once, before any fork, and kept for every later line.
Caller& kept_caller() {
    static Caller caller;  // a plain static: no guard in a single-threaded program
    return caller;
}

}  // namespace

std::size_t append_escaped(char* out, std::size_t used, std::size_t size, const char* text, std::size_t limit,
                           bool escape_space) {
    const std::size_t cap = std::min(size - 1, used + limit);
    if (used + 3 > cap) return used;
    std::size_t cut = used;  // where "..." goes should the rest not fit
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
        char piece[8];
        if (*p == '\\') std::strcpy(piece, "\\\\");
        else if (*p < 0x20 || *p >= 0x7f || (escape_space && *p == ' ')) std::snprintf(piece, sizeof piece, "\\x%02x", *p);
        else piece[0] = static_cast<char>(*p), piece[1] = '\0';
        const std::size_t length = std::strlen(piece);
        if (used + length > cap) return append_text(out, cut, size, "...");
        std::memcpy(out + used, piece, length + 1);
        used += length;
        if (used + 3 <= cap) cut = used;
    }
    return used;
}

void system_log(int priority, const char* text) {
    const int saved_errno = errno;
    char line[LINE_MAX_BYTES];
    const int length = std::snprintf(line, sizeof line, "<%d>app[%d]: %s", priority, getpid(), text);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd != -1 && length > 0) {
        sockaddr_un logger{};
        logger.sun_family = AF_UNIX;
        std::memcpy(logger.sun_path, LOGGER_PATH, sizeof LOGGER_PATH);
        const auto size = std::min(static_cast<std::size_t>(length), sizeof line - 1);
        (void)sendto(fd, line, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&logger),
                     sizeof logger);
    }
    if (fd != -1) close(fd);
    errno = saved_errno;
}

void identify_caller(const AppletArgs& args) { kept_caller() = describe_caller(args); }

void audit(const char* format, ...) {
    const Caller& caller = kept_caller();
    char what[LINE_MAX_BYTES / 2 - 32];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(what, sizeof what, format, ap);
    va_end(ap);
    char text[LINE_MAX_BYTES];
    std::snprintf(text, sizeof text, "%s: %s", what, caller.text);
    system_log(LOG_AUTHPRIV | LOG_NOTICE, text);
}
