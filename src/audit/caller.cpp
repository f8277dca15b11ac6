#include "audit/caller.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "audit/audit.h"
#include "audit/log_text.h"
#include "common/kernel.h"
#include "common/lines.h"

namespace {

constexpr std::size_t ARGUMENT_MAX_BYTES = 64;
constexpr std::size_t ARGUMENTS_MAX_BYTES = 400;
constexpr std::string_view MORE = " ...";  // arguments left out
// The kernel's "no id": an audit login user id or session never set, and
// the count of ids the initial user namespace maps.
constexpr unsigned long NO_ID = 4294967295UL;

// Reads a decimal id of at most 32 bits at `p` and moves past it.
bool read_id(const char*& p, unsigned long& id) {
    const char* start = p;
    std::uint64_t value = 0;
    for (; *p >= '0' && *p <= '9' && value <= NO_ID; ++p) value = value * 10 + static_cast<unsigned>(*p - '0');
    id = static_cast<unsigned long>(value);
    return p != start && value <= NO_ID;
}

bool read_field(const char*& p, unsigned long& id) {
    while (*p == ' ') ++p;
    return read_id(p, id);
}

// A user id as the parent of our user namespace sees it, through
// /proc/self/uid_map. Only the initial namespace maps all ids to themselves
// ("0 0 4294967295"); a kernel without user namespaces has no such file.
struct ParentView {
    bool mapped = true;
    unsigned long id = 0;
    bool initial = true;
};

ParentView in_parent_namespace(unsigned long id) {
    ParentView view{true, id, true};
    int ranges = 0;
    bool found = false;
    const bool read = for_each_line("/proc/self/uid_map", [&](const char* line) {
        unsigned long inside = 0, outside = 0, count = 0;
        const char* p = line;
        if (!read_field(p, inside) || !read_field(p, outside) || !read_field(p, count)) return false;
        ++ranges;
        if (inside != 0 || outside != 0 || count != NO_ID) view.initial = false;
        if (!found && id - inside < count) view.id = outside + (id - inside), found = true;
        return false;
    });
    if (!read) return view;
    if (ranges != 1) view.initial = false;
    view.mapped = found;
    return view;
}

void append_id(LogText& t, const ParentView& view) {
    if (view.mapped) return append_number(t, view.id);
    append(t, "?");
}

// The account name of `uid` in /etc/passwd: the device's only user database.
void append_user_name(LogText& t, const ParentView& uid) {
    bool found = false;
    if (uid.mapped)
        for_each_line("/etc/passwd", [&](char* line) {
            char* name_end = std::strchr(line, ':');
            const char* id_text = name_end ? std::strchr(name_end + 1, ':') : nullptr;
            if (!id_text) return false;
            unsigned long id = 0;
            const char* p = id_text + 1;
            if (!read_id(p, id) || *p != ':' || id != uid.id) return false;
            *name_end = '\0';
            append_escaped(t, line, ARGUMENT_MAX_BYTES);
            found = true;
            return true;
        });
    if (!found) append(t, "?");
}

// The first number of a /proc file of ours, or NO_ID where there is none.
unsigned long read_proc_id(const char* path) {
    unsigned long id = NO_ID;
    for_each_line(path, [&](const char* line) {
        if (!read_id(line, id)) id = NO_ID;
        return true;
    });
    return id;
}

// Who logged in, as the kernel's audit keeps it for every process: set
// once, at login, then kept by all that descends from it.
void append_audit_identity(LogText& t, bool initial_namespace) {
    const unsigned long login_uid = read_proc_id("/proc/self/loginuid");
    const unsigned long session = read_proc_id("/proc/self/sessionid");
    append(t, " auid=");
    if (login_uid == NO_ID) append(t, "unset");
    else if (initial_namespace) append_number(t, login_uid);
    else append_id(t, in_parent_namespace(login_uid));
    append(t, " ses=");
    if (session == NO_ID) append(t, "unset");
    else append_number(t, session);
}

// The program that ran us: our parent's executable, as the kernel names it.
void append_parent(LogText& t) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(getppid()));
    char path[4096];
    const ssize_t length = kernel_readlink(link, path, sizeof path - 1);
    path[length > 0 ? length : 0] = '\0';
    append_escaped(t, length > 0 ? path : "?", ARGUMENTS_MAX_BYTES / 2);
}

// The arguments, each cut to ARGUMENT_MAX_BYTES, as many as fit in
// ARGUMENTS_MAX_BYTES; " ..." where some were left out.
void append_arguments(LogText& t, const AppletArgs& args) {
    const std::size_t end = t.end;
    t.end = std::min(end, t.used + ARGUMENTS_MAX_BYTES);
    for (int i = 0; i < args.count; ++i) {
        // Room for one more, and for the mark after it.
        if (i > 0 && t.used + 1 + ARGUMENT_MAX_BYTES + MORE.size() > t.end) {
            append(t, MORE);
            break;
        }
        if (i > 0) append(t, " ");
        append_escaped(t, args.args[i], ARGUMENT_MAX_BYTES);
    }
    t.end = end;
}

// Who asked: read once, before any fork, and kept for every later line.
LogText& caller() {
    static LogText text{};  // zeroed, not stored in the executable; no guard
    return text;
}

}  // namespace

const char* caller_text() { return caller().data; }

// In a user namespace of its own a caller is root there, and the
// set-user-ID bit does nothing: the line shows the id the namespace's parent
// knows, and the caller's own view of it as nsuid.
void identify_caller(const AppletArgs& args) {
    LogText& t = caller();
    clear(t, LOG_LINE_MAX_BYTES / 2);
    const unsigned long uid = getuid();
    const ParentView view = in_parent_namespace(uid);
    append(t, "uid=");
    append_id(t, view);
    append(t, " user=");
    append_user_name(t, view);
    if (!view.initial) {
        append(t, " nsuid=");
        append_number(t, uid);
    }
    append_audit_identity(t, view.initial);
    append(t, " pid=");
    append_number(t, static_cast<unsigned long>(getpid()));
    append(t, " parent=");
    append_parent(t);
    append(t, " args=");
    append_arguments(t, args);
}
