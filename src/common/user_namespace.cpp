#include "common/user_namespace.h"

#include <cerrno>
#include <string_view>

#include "common/kernel.h"

bool in_initial_user_namespace() {
    constexpr std::string_view INITIAL = "user:[4026531837]";
    char link[32];
    const ssize_t length = kernel_readlink("/proc/self/ns/user", link, sizeof link);
    // A /proc of a caller's own mount namespace may lack the link too; the
    // real one of such a kernel still has the mount namespace's.
    if (length < 0) return errno == ENOENT && kernel_readlink("/proc/self/ns/mnt", link, sizeof link) > 0;
    return std::string_view(link, static_cast<std::size_t>(length)) == INITIAL;
}
