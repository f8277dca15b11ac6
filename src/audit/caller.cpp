#include "audit/caller.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>

#include "audit/audit.h"
#include "audit/caller_facts.h"

namespace {

constexpr std::size_t ARGUMENTS_MAX_BYTES = 400;
constexpr std::string_view MORE = " ...";  // arguments left out

void append_id(LogText& text, std::optional<Id> id) {
    if (!id) return append(text, "?");
    append_number(text, *id);
}

void append_audit_id(LogText& text, std::optional<Id> id) {
    if (id == NO_ID) return append(text, "unset");
    append_id(text, id);
}

// Text a caller may have chosen, or "?" where it could not be read.
void append_known(LogText& text, bool known, const char* piece, std::size_t limit) {
    if (!known) return append(text, "?");
    append_escaped(text, piece, limit);
}

// Who asked: read once, before any fork, and kept for every later line.
LogText& identified_caller() {
    static LogText text{};  // zeroed, not stored in the executable; no guard
    return text;
}

}  // namespace

const char* caller_text() { return identified_caller().data; }

void append_arguments(LogText& text, const AppletArgs& args) {
    const std::size_t cap = std::min(text.end, text.used + ARGUMENTS_MAX_BYTES);
    for (int i = 0; i < args.count; ++i) {
        if (i > 0) {
            // Room for one more, and for the mark after it.
            if (text.used + 1 + ARGUMENT_MAX_BYTES + MORE.size() > cap) return append(text, MORE);
            append(text, " ");
        }
        append_escaped(text, args.args[i], ARGUMENT_MAX_BYTES);
    }
}

// In a user namespace of its own a caller may be root there, and the
// set-user-ID bit does nothing: the line shows the ids the namespace's
// parent knows, and the caller's own uid as nsuid.
void identify_caller(const AppletArgs& args) {
    const CallerFacts caller = read_caller_facts();
    LogText& text = identified_caller();
    clear(text, LOG_LINE_MAX_BYTES / 2);
    append(text, "uid=");
    append_id(text, caller.uid);
    append(text, " user=");
    append_known(text, caller.user_known, caller.user, ARGUMENT_MAX_BYTES);
    if (!caller.initial_namespace) {
        append(text, " nsuid=");
        append_number(text, caller.own_uid);
    }
    append(text, " auid=");
    append_audit_id(text, caller.login_uid);
    append(text, " ses=");
    append_audit_id(text, caller.session);
    append(text, " pid=");
    append_number(text, caller.pid);
    append(text, " parent=");
    append_known(text, caller.parent[0] != '\0', caller.parent, PARENT_MAX_BYTES);
    append(text, " args=");
    append_arguments(text, args);
}
