#include "audit/caller_facts.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/files.h"
#include "common/kernel.h"
#include "common/user_namespace.h"

namespace {

// The number a /proc file of ours holds; nothing where it cannot be read,
// which a caller's limits may bring about.
std::optional<Id> read_proc_id(const char* path) {
    std::optional<Id> value;
    for_each_line(path, [&](const char* line) {
        value = read_id(line);
        return true;  // it is the first line
    });
    return value;
}

// Our namespace's map. One that cannot be read (a caller's descriptor or
// memory limits) names nothing; one read in part, the ids of its ranges read.
void read_uid_map(IdMap& map) {
    for_each_line("/proc/self/uid_map", [&](const char* line) {
        add_range(map, line);
        return false;  // all lines
    });
}

// Outside the initial namespace none of our ids is the kernel's own: a line
// shows each as our namespace's parent knows it.
void show_as_the_parent_does(CallerFacts& facts) {
    IdMap map{};
    read_uid_map(map);
    facts.uid = outside_id(map, facts.own_uid);
    // Unset, or one the namespace cannot show: the kernel reads NO_ID for both.
    if (facts.login_uid) facts.login_uid = outside_id(map, *facts.login_uid);
}

// The account name of `uid` in /etc/passwd, the device's only user database.
bool read_account_name(Id uid, char (&name)[ARGUMENT_MAX_BYTES + 2]) {
    bool found = false;
    for_each_line("/etc/passwd", [&](const char* line) {
        const std::optional<std::string_view> account = account_name(line, uid);
        if (account) {
            const std::size_t kept = std::min(account->size(), sizeof name - 1);
            std::memcpy(name, account->data(), kept);
            name[kept] = '\0';
        }
        found = account.has_value();
        return found;  // the first line that names it
    });
    return found;
}

// The program that ran us: our parent's executable, as the kernel names it.
void read_parent(char (&path)[PARENT_MAX_BYTES + 2]) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(getppid()));
    const ssize_t length = kernel_readlink(link, path, sizeof path - 1);
    path[length > 0 ? length : 0] = '\0';
}

}  // namespace

CallerFacts read_caller_facts() {
    CallerFacts facts{};
    facts.initial_namespace = in_initial_user_namespace();
    facts.own_uid = getuid();
    facts.uid = facts.own_uid;
    facts.login_uid = read_proc_id("/proc/self/loginuid");
    facts.session = read_proc_id("/proc/self/sessionid");
    if (!facts.initial_namespace) show_as_the_parent_does(facts);
    facts.pid = static_cast<Id>(getpid());
    facts.user_known = facts.uid && read_account_name(*facts.uid, facts.user);
    read_parent(facts.parent);
    return facts;
}
