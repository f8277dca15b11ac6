#include "common/system_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/kernel.h"

namespace {

constexpr char LOGGER_PATH[] = "/dev/log";
constexpr char PASSWD_PATH[] = "/etc/passwd";
// Fits every logger's line limit, whatever the caller passed.
constexpr std::size_t LINE_MAX_BYTES = 1024;
constexpr std::size_t ARGUMENT_MAX_BYTES = 64;
constexpr std::size_t ARGUMENTS_MAX_BYTES = 400;
constexpr std::string_view CUT = "...";

// A line being built: it stops at `end` (at most its size less the
// terminating zero) and stays terminated.
struct Text {
    char data[LINE_MAX_BYTES];
    std::size_t used;
    std::size_t end;
};

void add(Text& t, std::string_view text) {
    const std::size_t n = std::min(text.size(), t.end - t.used);
    std::memcpy(t.data + t.used, text.data(), n);
    t.used += n;
    t.data[t.used] = '\0';
}

// Ids and priorities: 32 bits are enough, and spare the device 64-bit division.
void add_number(Text& t, unsigned long value) {
    char digits[20];
    std::size_t start = sizeof digits;
    do {
        digits[--start] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    add(t, std::string_view(digits + start, sizeof digits - start));
}

// One byte as the line shows it: control characters, bytes outside printable
// ASCII, the backslash and the space (which separates arguments) escaped.
std::string_view shown(unsigned char c, char (&piece)[5]) {
    constexpr char HEX[] = "0123456789abcdef";
    if (c == '\\') return "\\\\";
    if (c > ' ' && c < 0x7f) {
        piece[0] = static_cast<char>(c);
        return {piece, 1};
    }
    piece[0] = '\\', piece[1] = 'x', piece[2] = HEX[c >> 4], piece[3] = HEX[c & 15];
    return {piece, 4};
}

// At most `limit` bytes of `text`, escaped; "..." ends it where it was cut.
void add_escaped(Text& t, const char* text, std::size_t limit) {
    const std::size_t cap = std::min(t.end, t.used + limit);
    if (t.used + CUT.size() > cap) return;
    std::size_t cut = t.used;  // where "..." goes should the rest not fit
    for (const char* p = text; *p != '\0'; ++p) {
        char piece[5];
        const std::string_view s = shown(static_cast<unsigned char>(*p), piece);
        if (t.used + s.size() > cap) {
            t.used = cut;
            return add(t, CUT);
        }
        add(t, s);
        if (t.used + CUT.size() <= cap) cut = t.used;
    }
}

// The account name of `uid` in /etc/passwd: the device's only user database.
void add_user_name(Text& t, uid_t uid) {
    FILE* passwd = std::fopen(PASSWD_PATH, "re");
    char* line = nullptr;
    std::size_t capacity = 0;
    bool found = false;
    while (passwd && !found && getline(&line, &capacity, passwd) > 0) {
        const char* name_end = std::strchr(line, ':');
        const char* uid_text = name_end ? std::strchr(name_end + 1, ':') : nullptr;
        if (!uid_text) continue;
        const char* digit = uid_text + 1;
        unsigned long value = 0;
        for (; *digit >= '0' && *digit <= '9' && value <= uid; ++digit) value = value * 10 + static_cast<unsigned long>(*digit - '0');
        if (digit == uid_text + 1 || *digit != ':' || value != uid) continue;
        *const_cast<char*>(name_end) = '\0';
        add_escaped(t, line, ARGUMENT_MAX_BYTES);
        found = true;
    }
    std::free(line);
    if (passwd) std::fclose(passwd);
    if (!found) add(t, "?");
}

// The program that ran us: our parent's executable, as the kernel names it.
void add_parent(Text& t) {
    Text link{{}, 0, 32};
    add(link, "/proc/");
    add_number(link, static_cast<unsigned long>(getppid()));
    add(link, "/exe");
    char path[PATH_MAX];
    const ssize_t length = kernel_readlink(link.data, path, sizeof path - 1);
    path[length > 0 ? length : 0] = '\0';
    add_escaped(t, length > 0 ? path : "?", ARGUMENTS_MAX_BYTES / 2);
}

// The arguments, each cut to ARGUMENT_MAX_BYTES, as many as fit in
// ARGUMENTS_MAX_BYTES; " ..." where some were left out.
void add_arguments(Text& t, const AppletArgs& args) {
    const std::size_t end = t.end;
    t.end = std::min(end, t.used + ARGUMENTS_MAX_BYTES);
    for (int i = 0; i < args.count; ++i) {
        // Room for one more, and for the mark after it.
        if (i > 0 && t.used + 1 + ARGUMENT_MAX_BYTES + 1 + CUT.size() > t.end) {
            add(t, " ...");
            break;
        }
        if (i > 0) add(t, " ");
        add_escaped(t, args.args[i], ARGUMENT_MAX_BYTES);
    }
    t.end = end;
}

// Who asked: read once, before any fork, and kept for every later line.
Text& caller() {
    static Text text;  // zeroed, not stored in the binary; no guard
    return text;
}

}  // namespace

void identify_caller(const AppletArgs& args) {
    Text& t = caller();
    t.used = 0;
    t.end = LINE_MAX_BYTES / 2;
    add(t, "uid=");
    add_number(t, getuid());
    add(t, " user=");
    add_user_name(t, getuid());
    add(t, " pid=");
    add_number(t, static_cast<unsigned long>(getpid()));
    add(t, " parent=");
    add_parent(t);
    add(t, " args=");
    add_arguments(t, args);
}

void system_log(int priority, const char* text) {
    const int saved_errno = errno;
    Text line{{}, 0, LINE_MAX_BYTES - 1};
    add(line, "<");
    add_number(line, static_cast<unsigned long>(priority));
    add(line, ">app[");
    add_number(line, static_cast<unsigned long>(getpid()));
    add(line, "]: ");
    add(line, text);
    const int fd = kernel_socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd != -1) {
        sockaddr_un logger{};
        logger.sun_family = AF_UNIX;
        std::memcpy(logger.sun_path, LOGGER_PATH, sizeof LOGGER_PATH);
        (void)kernel_sendto(fd, line.data, line.used, MSG_DONTWAIT | MSG_NOSIGNAL, &logger, sizeof logger);
        close(fd);
    }
    errno = saved_errno;
}

void audit(const char* format, ...) {
    char what[LINE_MAX_BYTES / 2 - 32];
    va_list ap;
    va_start(ap, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started; clang 14 loses it in glibc's checked vsnprintf
    std::vsnprintf(what, sizeof what, format, ap);
    va_end(ap);
    Text text{{}, 0, LINE_MAX_BYTES - 1};
    add(text, what);
    add(text, ": ");
    add(text, caller().data);
    system_log(LOG_AUTHPRIV | LOG_NOTICE, text.data);
}
