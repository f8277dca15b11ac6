#include "audit/caller.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "audit/audit.h"
#include "audit/log_text.h"
#include "common/files.h"
#include "common/kernel.h"

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
// ("0 0 4294967295"); a kernel without user namespaces has no such file. A
// map that cannot be read (a caller's descriptor or memory limits) names
// nothing and is not taken for the initial one.
struct ParentView {
    bool mapped;
    unsigned long id;
    bool initial;
};

ParentView in_parent_namespace(unsigned long id) {
    ParentView view{false, 0, true};
    int ranges = 0;
    const LinesEnd end = for_each_line("/proc/self/uid_map", [&](const char* line) {
        unsigned long inside = 0, outside = 0, count = 0;
        const char* p = line;
        if (!read_field(p, inside) || !read_field(p, outside) || !read_field(p, count)) return false;
        ++ranges;
        if (inside != 0 || outside != 0 || count != NO_ID) view.initial = false;
        if (!view.mapped && id - inside < count) view.mapped = true, view.id = outside + (id - inside);
        return false;
    });
    if (end == LinesEnd::ReadError && errno == ENOENT) return {true, id, true};
    if (end != LinesEnd::Done) return {false, 0, false};
    if (ranges != 1) view.initial = false;
    return view;
}

void append_id(LogText& text, const ParentView& view) {
    if (view.mapped) return append_number(text, view.id);
    append(text, "?");
}

// The account name of `uid` in /etc/passwd: the device's only user database.
void append_user_name(LogText& text, const ParentView& uid) {
    bool found = false;
    if (uid.mapped)
        for_each_line("/etc/passwd", [&](char* line) {
            const std::size_t name_length = std::strcspn(line, ":");
            const char* id_text = line[name_length] ? std::strchr(line + name_length + 1, ':') : nullptr;
            if (!id_text) return false;
            unsigned long id = 0;
            const char* p = id_text + 1;
            if (!read_id(p, id) || *p != ':' || id != uid.id) return false;
            line[name_length] = '\0';
            append_escaped(text, line, ARGUMENT_MAX_BYTES);
            found = true;
            return true;
        });
    if (!found) append(text, "?");
}

// The number a /proc file of ours holds, NO_ID for "none"; nothing where it
// cannot be read, which a caller's limits may bring about: that shows as
// "?", never as "unset".
std::optional<unsigned long> read_proc_id(const char* path) {
    std::optional<unsigned long> value;
    for_each_line(path, [&](const char* line) {
        unsigned long id = 0;
        if (read_id(line, id)) value = id;
        return true;
    });
    return value;
}

// A user namespace shows a login uid through its map, and one it does not
// map as "none": there that reads "?".
void append_audit_id(LogText& text, std::optional<unsigned long> id, bool translate) {
    if (!id) return append(text, "?");
    if (*id == NO_ID) return append(text, translate ? "?" : "unset");
    if (!translate) return append_number(text, *id);
    append_id(text, in_parent_namespace(*id));
}

// Who logged in, as the kernel's audit keeps it for every process: set
// once, at login, then kept by all that descends from it.
void append_audit_identity(LogText& text, bool initial_namespace) {
    append(text, " auid=");
    append_audit_id(text, read_proc_id("/proc/self/loginuid"), !initial_namespace);
    append(text, " ses=");
    append_audit_id(text, read_proc_id("/proc/self/sessionid"), false);
}

// The program that ran us: our parent's executable, as the kernel names it.
void append_parent(LogText& text) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(getppid()));
    char path[4096];
    const ssize_t length = kernel_readlink(link, path, sizeof path - 1);
    path[length > 0 ? length : 0] = '\0';
    append_escaped(text, length > 0 ? path : "?", ARGUMENTS_MAX_BYTES / 2);
}

// The arguments, each cut to ARGUMENT_MAX_BYTES, as many as fit in
// ARGUMENTS_MAX_BYTES; " ..." where some were left out.
void append_arguments(LogText& text, const AppletArgs& args) {
    const std::size_t end = text.end;
    text.end = std::min(end, text.used + ARGUMENTS_MAX_BYTES);
    for (int i = 0; i < args.count; ++i) {
        // Room for one more, and for the mark after it.
        if (i > 0 && text.used + 1 + ARGUMENT_MAX_BYTES + MORE.size() > text.end) {
            append(text, MORE);
            break;
        }
        if (i > 0) append(text, " ");
        append_escaped(text, args.args[i], ARGUMENT_MAX_BYTES);
    }
    text.end = end;
}

// Who asked: read once, before any fork, and kept for every later line.
LogText& identified_caller() {
    static LogText text{};  // zeroed, not stored in the executable; no guard
    return text;
}

}  // namespace

const char* caller_text() { return identified_caller().data; }

// In a user namespace of its own a caller is root there, and the
// set-user-ID bit does nothing: the line shows the id the namespace's parent
// knows, and the caller's own view of it as nsuid.
void identify_caller(const AppletArgs& args) {
    LogText& text = identified_caller();
    clear(text, LOG_LINE_MAX_BYTES / 2);
    const unsigned long uid = getuid();
    const ParentView view = in_parent_namespace(uid);
    append(text, "uid=");
    append_id(text, view);
    append(text, " user=");
    append_user_name(text, view);
    if (!view.initial) {
        append(text, " nsuid=");
        append_number(text, uid);
    }
    append_audit_identity(text, view.initial);
    append(text, " pid=");
    append_number(text, static_cast<unsigned long>(getpid()));
    append(text, " parent=");
    append_parent(text);
    append(text, " args=");
    append_arguments(text, args);
}
