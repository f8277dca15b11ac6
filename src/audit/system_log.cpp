#include "audit/system_log.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "audit/log_text.h"
#include "common/kernel.h"

namespace {

constexpr char LOGGER_PATH[] = "/dev/log";
// No unprivileged process can write it or fill it; readable with dmesg.
constexpr char KERNEL_LOG_PATH[] = "/dev/kmsg";
constexpr long US_PER_SECOND = 1000000;

// What is left of the time this process may wait for a full logger, in all,
// in microseconds: a logger that a caller floods, or one that is stuck,
// holds up no applet and no restart for long.
long wait_left_us = US_PER_SECOND;

// The socket waits for room in the logger's queue this long at most; none
// left, the kernel would read "for ever".
bool set_send_timeout(int fd) {
    if (wait_left_us <= 0) return false;
    const long timeout[2] = {wait_left_us / US_PER_SECOND, wait_left_us % US_PER_SECOND};
    return kernel_setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO_OLD, timeout, sizeof timeout) == 0;
}

// Microseconds since `start` on the monotonic clock, the whole budget where
// it cannot be read.
long microseconds_since(const struct timespec& start) {
    struct timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return US_PER_SECOND;
    return static_cast<long>(now.tv_sec - start.tv_sec) * US_PER_SECOND + (now.tv_nsec - start.tv_nsec) / 1000;
}

// Room for the sender's credentials that a datagram claims.
struct Claim {
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
};

// In a set-user-ID start the effective ids are root's: the datagram claims
// them, so that a logger sees uid 0, which no caller can claim. Otherwise
// the kernel's own record (our pid, real ids) says as much, and holds where
// a claim would not: an id a caller's user namespace cannot map.
void claim_effective_ids(msghdr& message, Claim& claim) {
    if (geteuid() == getuid()) return;
    auto* credentials = reinterpret_cast<cmsghdr*>(claim.control);
    credentials->cmsg_level = SOL_SOCKET;
    credentials->cmsg_type = SCM_CREDENTIALS;
    credentials->cmsg_len = CMSG_LEN(sizeof(ucred));
    const ucred sender{getpid(), geteuid(), getegid()};
    std::memcpy(CMSG_DATA(credentials), &sender, sizeof sender);
    message.msg_control = claim.control;
    message.msg_controllen = sizeof claim.control;
}

// One datagram to the logger. A stop and continue interrupts the wait,
// which then goes on.
bool send_to_logger(const LogText& line) {
    const int fd = kernel_socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC);
    if (fd == -1) return false;
    sockaddr_un logger{};
    logger.sun_family = AF_UNIX;
    std::memcpy(logger.sun_path, LOGGER_PATH, sizeof LOGGER_PATH);
    iovec data{const_cast<char*>(line.data), line.used};
    Claim claim{};
    msghdr message{};
    message.msg_name = &logger;
    message.msg_namelen = sizeof logger;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    claim_effective_ids(message, claim);

    ssize_t sent = -1;
    do {
        const bool may_wait = set_send_timeout(fd);
        struct timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        sent = kernel_sendmsg(fd, &message, MSG_NOSIGNAL | (may_wait ? 0 : MSG_DONTWAIT));
        const int error = errno;
        if (may_wait) wait_left_us -= std::clamp(microseconds_since(start), 0L, wait_left_us);
        errno = error;
    } while (sent == -1 && errno == EINTR && wait_left_us > 0);
    close(fd);
    return sent == static_cast<ssize_t>(line.used);
}

// The same line in the kernel's log, at the same priority.
void keep_in_kernel_log(LogText& line) {
    append(line, "\n");
    const int fd = open(KERNEL_LOG_PATH, O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd == -1) return;
    (void)!write(fd, line.data, line.used);
    close(fd);
}

}  // namespace

void system_log(int priority, const char* text) {
    const int saved_errno = errno;
    LogText line{{}, 0, LOG_LINE_MAX_BYTES - 2};  // room for the kernel log's newline
    append(line, "<");
    append_number(line, static_cast<unsigned long>(priority));
    append(line, ">app[");
    append_number(line, static_cast<unsigned long>(getpid()));
    append(line, "]: ");
    append(line, text);
    if (!send_to_logger(line)) {
        line.end = LOG_LINE_MAX_BYTES - 1;
        keep_in_kernel_log(line);
    }
    errno = saved_errno;
}
