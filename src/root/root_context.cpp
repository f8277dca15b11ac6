#include "root/root_context.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <err.h>

#include "common/failure.h"
#include "common/kernel.h"
#include "common/user_namespace.h"
#include "process/signals.h"
#include "root/init_attributes.h"
#include "root/resources.h"
#include "root/standard_streams.h"

namespace {

// setuid(0) without CAP_SETUID (dropped from a caller's bounding set) changes
// only the effective id and still succeeds: check what we got.
void become_root() {
    if (setuid(0) != 0) step_failed("setuid");
    if (!ids_are_root()) {
        errno = EPERM;
        step_failed("setuid");
    }
}

}  // namespace

// Without the set-user-ID effect (no_new_privs, a user namespace of the
// caller's, a bounding set without CAP_SETUID) the tool would never run:
// no line may say it does, and nothing may pass for scheduled.
void require_root() {
    constexpr std::uint32_t NEEDED = 1U << CAP_SETUID | 1U << CAP_SETGID;
    if (geteuid() == 0 && (kernel_effective_capabilities() & NEEDED) == NEEDED && in_initial_user_namespace()) return;
    errno = EPERM;
    err(2, "setuid");
}

void enter_root_context(Session session) {
    become_root();
    if (setgroups(0, nullptr) != 0) step_failed("setgroups");
    if (setgid(0) != 0) step_failed("setgid");
    // Out of reach of the caller's terminal: no ^C, ^Z or hang-up, and an
    // autogroup (the caller's may be at nice 19) of its own.
    if (session == Session::New && kernel_setsid() == -1) step_failed("setsid");
    keep_safe_standard_streams();
    take_init_limits();
    take_init_scheduling();
    take_init_attributes();
    umask(022);
    if (chdir("/") != 0) step_failed("chdir");
    reset_signals();
}

void exec_tool(char* const argv[], const char* failure) {
    execv(argv[0], argv);
    step_failed("%s", failure);
}
