// The audit trail: each privileged action leaves a line with the system
// logger (a real one in the root), bounded and escaped whatever the caller
// passed, sent by the app's own credentials, kept when the logger is full or
// flooded, and naming the caller as the initial user namespace knows it.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>

#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;

// 2026-12-08T17:33:36.123456789Z: 30 characters, T and Z in place.
std::string mask_utc(std::string line) {
    for (std::size_t z = line.find('Z'); z != std::string::npos; z = line.find('Z', z + 1))
        if (z >= 29 && line[z - 19] == 'T' && line[z - 10] == '.') line.replace(z - 29, 30, "UTC"), z -= 29;
    return line;
}

// What the app sent the system logger, "FACILITY.LEVEL app[N]: TEXT" a line,
// its times shown as "UTC".
Check logged(const Strings& lines) {
    return [=](const DeviceRoot& root, const RunResult&) {
        Strings seen;
        for (const std::string& line : root.log_lines()) seen.push_back(mask_utc(line));
        EXPECT_EQ(seen, lines);
    };
}

// A time as the line shows it (2026-12-08T17:33:36.123456789Z), in nanoseconds.
long long utc_ns(const std::string& text) {
    struct tm t{};
    long ns = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%ldZ", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                    &t.tm_sec, &ns) != 7)
        return -1;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<long long>(timegm(&t)) * 1000000000 + ns;
}

// The clock "after" is read after the call: the device root's keeper sets
// nothing, but answers 0.2 s after it saw the call.
void clock_read_after_the_call(const DeviceRoot& root, const RunResult&) {
    for (const std::string& line : root.log_lines()) {
        const std::size_t at = line.find("clock set from ");
        if (at == std::string::npos) continue;
        const std::string before = line.substr(at + 15, 30), after = line.substr(at + 49, 30);
        EXPECT_GE(utc_ns(after) - utc_ns(before), 200000000) << line;
        return;
    }
    ADD_FAILURE() << "no line says the clock was set";
}

// However many and however long the arguments, one line of bounded length.
void one_bounded_line(const DeviceRoot& root, const RunResult&) {
    const Strings lines = root.log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_LE(lines[0].size(), 992u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - 10), "zzz... ...");
}

// Every privileged action leaves a line with the system logger (a real one in
// the root): what ran, for whom, with which arguments; bounded and escaped
// whatever the caller passed. The supervisor's own lines go there too.
const std::string RESTARTING = "once exited(0), restarting", DISABLING = "once missing, disabling";

TABLE(Audit, PrivilegedActionsLeaveLinesWithTheSystemLogger) {
    const std::string by_user = ": uid=1001 user=user " + audit_identity() + " pid=N parent=/.devroot/init args=";
    const std::string notice = "authpriv.notice app[N]: ";
    const std::string by_shell = ": uid=1001 user=user " + audit_identity() + " pid=N parent=/usr/bin/bash args=";
    const std::string own_login = audit_login_uid() == "unset" ? "1001" : audit_login_uid();
    const std::string by_own_login =
        ": uid=1001 user=user auid=" + own_login + " ses=N pid=N parent=/.devroot/init args=";
    const std::string by_long_path =
        ": uid=1001 user=user " + audit_identity() + " pid=N parent=/tmp/" + std::string(192, 'p') + "... args=";
    const std::string huge(100000, 'z');
    Strings many{"watchdog"};
    many.insert(many.end(), 8, huge);
    const RunOptions user{.user = "user", .linger = 30, .syslog = true};  // what a reboot leaves, on a loaded machine
    const auto line = [=](const std::string& what, const std::string& args) { return notice + what + by_user + args; };
    const std::string modem = "service start modem", clock = "time 1796601600 0";
    const std::string script = "/etc/init.d/S38modem start", hwclock = "/usr/sbin/hwclock --systohc";
    const std::string set = "setting clock from UTC to UTC", was_set = "clock set from UTC to UTC";
    const auto tool_says = [](const std::string& tool, const std::string& control) {
        return [=](const DeviceRoot& root) { root.control(tool, control); };
    };
    const auto not_executable = [](const std::string& path) {
        return [=](const DeviceRoot& root) { chmod(root.host_path(path).c_str(), 0644); };
    };
    const RunOptions game_user{.user = "user", .env = {screen_env()}, .linger = 30, .syslog = true};
    const std::string game = "/usr/games/prboom -width 800 -height 480";
    const Setup screen = [](const DeviceRoot& root) { give_screen(root, "800 480"); };
    std::vector<Row> rows = {
        {.args = {"service", "start", "modem"}, .caller = user, .tools = {"S38modem"},
         .check = logged({line("running " + script, modem), line(script + " exited with status 0", modem)})},
        // How each tool ended, said by a root process of its own session: the
        // script's status or signal, hwclock's status, a tool that never ran.
        {.label = "service, the script killed by signal 10", .args = {"service", "start", "modem"}, .caller = user,
         .status = 128 + 10, .tools = {"S38modem"}, .setup = tool_says("S38modem", "kill 10"),
         .check = logged({line("running " + script, modem), line(script + " killed by signal 10", modem)})},
        {.label = "service, the script not executable", .args = {"service", "start", "modem"}, .caller = user,
         .status = 2, .err = EXEC_REFUSED, .setup = not_executable("/etc/init.d/S38modem"),
         .check = logged({line("running " + script, modem),
                          line("cannot run " + script + ": execl: Permission denied", modem)})},
        {.label = "time, hwclock exits 7", .args = {"time", "1796601600", "0"}, .caller = user, .status = 7,
         .tools = {"hwclock"}, .clock = "set 1796601600 0", .setup = tool_says("hwclock", "exit 7"),
         .check = logged({line(set, clock), line(was_set, clock), line("running " + hwclock, clock),
                          line(hwclock + " exited with status 7", clock)})},
        {.label = "reboot, the tool not executable", .args = {"reboot", "0"}, .caller = user, .err = EXEC_REFUSED,
         .setup = not_executable("/usr/sbin/reboot"),
         .check = logged({line("scheduled /usr/sbin/reboot in 0 s", "reboot 0"), line("running /usr/sbin/reboot", "reboot 0"),
                          line("cannot run /usr/sbin/reboot: execl: Permission denied", "reboot 0")})},
        {.args = {"reboot", "0"}, .caller = user, .tools = {"reboot"},
         .check = logged({notice + "scheduled /usr/sbin/reboot in 0 s" + by_user + "reboot 0",
                          notice + "running /usr/sbin/reboot" + by_user + "reboot 0"})},
        // A delay the parser takes, with a line break in it.
        {.label = "poweroff, a line break", .args = {"poweroff", "\n 0"}, .caller = user, .tools = {"poweroff"},
         .check = logged({notice + "scheduled /usr/sbin/poweroff in 0 s" + by_user + "poweroff \\x0a\\x200",
                          notice + "running /usr/sbin/poweroff" + by_user + "poweroff \\x0a\\x200"})},
        {.args = {"time", "1796601600", "0"}, .caller = user, .tools = {"hwclock"}, .clock = "set 1796601600 0",
         .check =
             [=](const DeviceRoot& root, const RunResult& r) {
                 logged({line(set, clock), line(was_set, clock), line("running " + hwclock, clock),
                         line(hwclock + " exited with status 0", clock)})(root, r);
                 clock_read_after_the_call(root, r);
             }},
        // The time asked for is named before the kernel judges it, in full:
        // past any calendar year, as seconds; then the kernel's answer.
        {.args = {"time", "99999999999999999999", "0"}, .caller = user, .status = 2, .err = CLOCK_REFUSED,
         .clock = "EINVAL 9223372036854775807 0",
         .check = logged({line("setting clock from UTC to @9223372036854775807.000000000", "time 99999999999999999999 0"),
                          line("clock not set to @9223372036854775807.000000000: Invalid argument",
                               "time 99999999999999999999 0")})},
        // A caller that kills the applet the moment the clock would change
        // (the keeper's record; it answers 0.2 s later): the process that sets
        // it is root's by then, in a session of its own, and its line is in.
        // Whether the kill still finds the applet (a loaded machine may have
        // ended it by then) changes nothing of the outcome.
        {.label = "time, killed as the clock is set", .caller = user,
         .command = {"/bin/bash", "-c",
                     "(" + shell_exec_app("app") +
                         " time 1796601600 0) & until grep -qs tool=clock /records/log; do :; done; "
                         "kill -9 $! 2>/dev/null; wait $! 2>/dev/null; true"},
         .tools = {"hwclock"}, .clock = "set 1796601600 0",
         .check = logged({notice + set + by_shell + clock, notice + was_set + by_shell + clock,
                          notice + "running " + hwclock + by_shell + clock,
                          notice + hwclock + " exited with status 0" + by_shell + clock})},
        // The program that ran it, at a path of 260 bytes: 200 of them show.
        {.label = "reboot, from a program at a long path", .caller = user,
         .command = {"/bin/bash", "-c",
                     "d=/tmp/" + std::string(250, 'p') + "; mkdir $d && cp /bin/bash $d && $d/bash -c '(" +
                         shell_exec_app("app") + " reboot 0); :'"},
         .tools = {"reboot"},
         .check = logged({notice + "scheduled /usr/sbin/reboot in 0 s" + by_long_path + "reboot 0",
                          notice + "running /usr/sbin/reboot" + by_long_path + "reboot 0"})},
        // A caller that gave itself the audit login uid it lacked, as any
        // process may once; the session is then the kernel's new one.
        {.label = "reboot, a login uid of the caller's own", .caller = user,
         .command = {"/bin/bash", "-c",
                     "{ echo 1001 >/proc/self/loginuid; } 2>/dev/null; " + shell_exec_app("app") + " reboot 0"},
         .tools = {"reboot"},
         .check = logged({notice + "scheduled /usr/sbin/reboot in 0 s" + by_own_login + "reboot 0",
                          notice + "running /usr/sbin/reboot" + by_own_login + "reboot 0"})},
        // Called many times a second: no line.
        {.args = {"led", "beeper", "none"}, .caller = user, .leds = {{"/sys/class/leds/beeper/trigger", "none"}},
         .check = logged({})},
        // Each argument shows at most 64 bytes, escaped, "..." where it was
        // cut; a backslash is doubled, so that no argument forges an escape.
        {.label = "watchdog, escapes", .args = {"watchdog", "\n\x1b[2J" + huge, "a\\x41b\x7f", std::string(64, 'y')},
         .caller = user, .status = 2, .err = NOT_ROOT,
         .check = logged({notice + "supervisor refused" + by_user + "watchdog \\x0a\\x1b[2J" + std::string(50, 'z') +
                              "... a\\\\x41b\\x7f " + std::string(64, 'y'),
                          logged_at("daemon.err", NOT_ROOT)})},
        {.label = "watchdog, 800 kB of arguments", .args = many, .caller = user, .status = 2, .err = NOT_ROOT,
         .check = one_bounded_line},
        {.label = "supervisor", .caller = {.argv0 = "/app/bin/app", .linger = 1, .syslog = true},
         .err = said(RESTARTING) + said(DISABLING) + NO_CHILDREN,
         .tools = {"unlock-datafs", "once"},
         .setup =
             [](const DeviceRoot& root) {
                 root.configure("once /data/once\n", {"once"});
                 root.control("once", "remove-after 1\n");
             },
         .check = logged({"authpriv.notice app[N]: supervisor started: uid=0 user=root " + audit_identity() +
                              " pid=N parent=/.devroot/init args=",
                          logged_at("daemon.warn", said(RESTARTING)), logged_at("daemon.warn", said(DISABLING)),
                          logged_at("daemon.notice", NO_CHILDREN)})},
        {.args = {"doom", "1"}, .caller = game_user, .tools = {"prboom"}, .setup = screen,
         .check = logged({line("running " + game, "doom 1")}), .needs = screen_needed},
        {.label = "doom, the game not executable", .args = {"doom", "1"}, .caller = game_user, .err = EXEC_REFUSED,
         .setup = [=](const DeviceRoot& root) { screen(root), not_executable("/usr/games/prboom")(root); },
         .check = logged({line("running " + game, "doom 1"), line("cannot run " + game + ": execl: Permission denied",
                                                                   "doom 1")}),
         .needs = screen_needed},
    };
    return {.rows = rows, .setuid = true, .needs = busybox_needed};
}

// A socket bound at the root's /dev/log, its queue filled: a logger that
// reads nothing.
int full_logger(const DeviceRoot& root) {
    const int logger = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = root.host_path("/dev/log");
    EXPECT_LT(path.size(), sizeof address.sun_path);
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(bind(logger, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    chmod(path.c_str(), 0666);
    const int filler = socket(AF_UNIX, SOCK_DGRAM, 0);
    while (sendto(filler, "x", 1, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&address), sizeof address) == 1) {
    }
    close(filler);
    return logger;
}

// A logger that never reads holds up no applet for more than the second it
// may wait: the lines go to the kernel log instead.
TABLE(Audit, AFullSystemLoggerHoldsUpNoApplet) {
    const auto logger = std::make_shared<int>(-1);
    const auto kept = [](const Strings& lines) {
        return [=](const DeviceRoot& root, const RunResult& r) {
            Strings seen;
            for (std::string line : root.kmsg_lines()) {
                line = mask_utc(line);
                seen.push_back(line.substr(0, line.find(':', 30)));
            }
            EXPECT_EQ(seen, lines);
            // A send that waits for ever is killed at 30 s.
            EXPECT_LT(r.elapsed_ms, 15000) << "a second's wait, and the start of a loaded or emulated app";
        };
    };
    // A blocked send would hang the applet until the timeout kills it.
    const RunOptions user{.user = "user", .timeout = 30, .linger = 30, .kmsg = true};
    return {.rows = {{.args = {"reboot", "0"}, .caller = user, .tools = {"reboot"},
                      .check = kept({"authpriv.notice app[N]: scheduled /usr/sbin/reboot in 0 s",
                                     "authpriv.notice app[N]: running /usr/sbin/reboot"})},
                     {.args = {"service", "start", "modem"}, .caller = user, .tools = {"S38modem"},
                      .check = kept({"authpriv.notice app[N]: running /etc/init.d/S38modem start",
                                     "authpriv.notice app[N]: /etc/init.d/S38modem start exited with status 0"})},
                     // Four lines, one second for all of them.
                     {.args = {"time", "1796601600", "0"}, .caller = user, .tools = {"hwclock"},
                      .clock = "set 1796601600 0",
                      .check = kept({"authpriv.notice app[N]: setting clock from UTC to UTC",
                                     "authpriv.notice app[N]: clock set from UTC to UTC",
                                     "authpriv.notice app[N]: running /usr/sbin/hwclock --systohc",
                                     "authpriv.notice app[N]: /usr/sbin/hwclock --systohc exited with status 0"})}},
            .setuid = true,
            .prepare = [=](const DeviceRoot& root) { *logger = full_logger(root); },
            .each = [=](const DeviceRoot&, const Row&, const RunResult&) { close(*logger); }};
}

// A full logger that frees room slowly: it takes one line (reads one
// datagram) only for a sender that has waited for room through 30 of its
// polls, 0.6 s at least, and waits still, asleep in unix_wait_for_peer as
// the kernel shows it. Each line it takes has cost its process 0.6 s of the
// second all its lines may wait: a process gets at most its first line
// through. Of time's four lines, all the waiting process's, the others go to
// the kernel log at once: the second cannot wait 0.6 s more, the rest may not
// wait; of service's two, the line of the script's end. A loaded machine only
// makes the logger slower.
const std::string SLOW_LOGGER = R"pl(
    use Socket;
    my $path = "/dev/log";
    socket(my $log, PF_UNIX, SOCK_DGRAM, 0) or die "socket: $!";
    bind($log, pack_sockaddr_un($path)) or die "$path: $!";
    chmod 0666, $path;
    socket(my $filler, PF_UNIX, SOCK_DGRAM, 0) or die "socket: $!";
    1 while send($filler, "x", MSG_DONTWAIT, pack_sockaddr_un($path));
    open(my $ready, ">", "/tmp/logger-ready") or die "ready: $!";
    close $ready;
    for (my $polls = 0;; select(undef, undef, undef, 0.02)) {
        opendir(my $proc, "/proc") or die "/proc: $!";
        my $waits = grep { my $f; /^\d+$/ && open($f, "<", "/proc/$_/wchan") && <$f> eq "unix_wait_for_peer" } readdir $proc;
        $polls = $waits ? $polls + 1 : 0;
        next if $polls < 30;
        recv($log, my $line, 1024, 0);
        $polls = 0;
    })pl";

TABLE(Audit, ASlowSystemLoggerIsWaitedForASecondInAll) {
    const auto kept = [](std::size_t lines) {
        return [=](const DeviceRoot& root, const RunResult&) {
            ASSERT_TRUE(root.exists("/tmp/logger-ready")) << "the logger never bound /dev/log";
            EXPECT_GE(root.kmsg_lines().size(), lines);
        };
    };
    const auto beside_the_logger = [](const std::string& applet) {
        return Strings{"/bin/bash", "-c",
                       "perl /tmp/slow-logger & for i in $(seq 200); do [ -e /tmp/logger-ready ] && break; "
                       "sleep 0.05; done; (" + shell_exec_app("app") + " " + applet + "); status=$?; kill $!; "
                       "exit $status"};
    };
    const RunOptions root_with_kernel_log{.linger = 2, .kmsg = true};
    return {.rows = {{.label = "time 1796601600 0", .caller = root_with_kernel_log,
                      .command = beside_the_logger("time 1796601600 0"), .tools = {"hwclock"},
                      .clock = "set 1796601600 0", .check = kept(3)},
                     {.label = "service start modem", .caller = root_with_kernel_log,
                      .command = beside_the_logger("service start modem"), .tools = {"S38modem"},
                      .check = kept(1)}},
            .prepare = [](const DeviceRoot& root) { root.write("/tmp/slow-logger", SLOW_LOGGER); }};
}

// A full logger that reads again within the second gets the line, which the
// applet waited for room to send; the kernel log gets none.
struct CatchingUp {
    int logger = -1;
    std::string received;
    std::thread reader;

    ~CatchingUp() {
        if (reader.joinable()) reader.join();
    }
};

TABLE(Audit, AFullSystemLoggerThatCatchesUpGetsTheLine) {
    const auto logger = std::make_shared<CatchingUp>();
    const auto catching_up = [=](const DeviceRoot& root) {
        logger->logger = full_logger(root);
        logger->reader = std::thread([=] {
            usleep(300000);
            const timeval quiet{2, 0};
            setsockopt(logger->logger, SOL_SOCKET, SO_RCVTIMEO, &quiet, sizeof quiet);
            char datagram[1024];
            for (ssize_t n; (n = recv(logger->logger, datagram, sizeof datagram, 0)) > 0;)
                if (n > 1) logger->received.append(datagram, static_cast<std::size_t>(n));
        });
    };
    return {.rows = {{.args = {"service", "start", "modem"}, .caller = {.user = "user", .linger = 1, .kmsg = true},
                      .tools = {"S38modem"},
                      .check = [=](const DeviceRoot& root, const RunResult&) {
                          logger->reader.join();
                          close(logger->logger);
                          EXPECT_NE(logger->received.find(": running /etc/init.d/S38modem start: "),
                                    std::string::npos)
                              << logger->received;
                          EXPECT_EQ(root.kmsg_lines(), Strings{});
                      }}},
            .setuid = true, .prepare = catching_up};
}

// Senders of the caller's own keep the logger's queue full: every line of 20
// calls reaches the logger or the kernel log, and none holds its caller up
// much past the second it may wait.
TABLE(Audit, AFloodedSystemLoggerLosesNoLine) {
    const std::string calls = "for i in 1 2 3 4; do (yes flood | logger -u /dev/log) & done; sleep 0.5; "
                              "for i in $(seq 20); do start=$(date +%s%N); (" +
                              shell_exec_app("app") +
                              " reboot 0); ms=$((($(date +%s%N) - start) / 1000000)); "
                              "[ $ms -lt 10000 ] || echo \"call $i: $ms ms\"; done";
    const Check every_line = [](const DeviceRoot& root, const RunResult&) {
        Strings lines = root.log_lines();
        const Strings kept = root.kmsg_lines();
        lines.insert(lines.end(), kept.begin(), kept.end());
        for (const std::string what : {": scheduled /usr/sbin/reboot in 0 s: ", ": running /usr/sbin/reboot: "})
            EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                    [&](const std::string& line) { return line.find(what) != std::string::npos; }),
                      20)
                << what;
    };
    return {.rows = {{.label = "20 reboots", .caller = {.user = "user", .linger = 30, .syslog = true},
                      .command = {"/bin/bash", "-c", calls}, .tools = Strings(20, "reboot"), .check = every_line}},
            .setuid = true, .needs = busybox_needed};
}

// A logger that reads each line's sender from the kernel tells the app's
// lines (uid 0, the pid of their tag) from one the caller sends in its name.
std::string rsyslog_needed() {
    return rsyslog_available() ? "" : "needs Debian's rsyslog, unpacked by tests/harness/fetch-rsyslog";
}

TABLE(Audit, TheSystemLoggerCanTellTheAppsLinesFromAForgery) {
    const Check senders = [](const DeviceRoot& root, const RunResult&) {
        Strings seen;
        for (const Record& r : root.log_credentials()) {
            const bool the_apps = r.get("uid") == "0" && r.get("pid") == r.get("tag_pid");
            seen.push_back((the_apps ? "app: " : "other: ") + r.get("line").substr(0, r.get("line").find(':', 30)));
        }
        EXPECT_EQ(seen, (Strings{"other: authpriv.notice app[N]: running /usr/sbin/reboot",
                                 "app: authpriv.notice app[N]: scheduled /usr/sbin/reboot in 0 s",
                                 "app: authpriv.notice app[N]: running /usr/sbin/reboot"}));
    };
    return {.rows = {{.label = "a forged line, then reboot 0",
                      .caller = {.user = "user", .linger = 10, .rsyslog = true},
                      .command = {"/bin/bash", "-c",
                                  "logger -u /dev/log -p authpriv.notice -t \"app[$$]\" \"running /usr/sbin/reboot: "
                                  "uid=0 user=root\"; " + shell_exec_app("app") + " reboot 0"},
                      .tools = {"reboot"}, .check = senders}},
            .setuid = true, .needs = rsyslog_needed};
}

// In a user namespace of its own a caller may be root there, and the
// set-user-ID bit does nothing: the supervisor's line (the applets refuse
// before any line, see below) says who it is outside. Its parent, outside
// too, is not the caller's to read.
std::string user_namespaces_needed() {
    if (system("setpriv --reuid=65534 --regid=65534 --clear-groups unshare -r true 2>/dev/null") != 0)
        return "this machine lets no unprivileged process make a user namespace";
    return busybox_needed();
}

// Where the sanitizer's runtime finds no /proc/self/exe, it says so on stderr.
std::string proc_of_its_own_possible() {
    return APP_SANITIZED ? "the sanitizer's runtime complains of a /proc without /proc/self/exe" : "";
}

// In a user namespace an applet refuses before any line: the supervisor's
// line (refused, or started for a uid 0 there) shows the caller.
TABLE(Audit, ACallerInAUserNamespaceIsLoggedAsItsParentKnowsIt) {
    // The caller gives itself a login uid where it has none; the namespace
    // shows only the one it maps (1001's, as 5), which the line translates.
    const std::string login = "auid=" + std::string(audit_login_uid() == "unset" || audit_login_uid() == "1001"
                                                         ? "1001" : "?") + " ses=N";
    const std::string unmapped = "auid=? ses=" + std::string(audit_login_uid() == "unset" ? "unset" : "N");
    // Root's login uid, where one is set, reads the same through an identity map; 0 does not.
    const std::string root_login = "auid=" + std::string(audit_login_uid() == "unset" || audit_login_uid() == "0"
                                                             ? "?" : audit_login_uid()) +
                                   " ses=" + (audit_login_uid() == "unset" ? "unset" : "N");
    const std::string refused = "authpriv.notice app[N]: supervisor refused: ";
    const std::string started = "authpriv.notice app[N]: supervisor started: ";
    const std::string args = " pid=N parent=? args=watchdog";
    const RunOptions user{.user = "user", .linger = 30, .syslog = true};
    const std::string watchdog = shell_exec_app("app") + " watchdog";
    // uid 0 in a namespace that maps no other: the supervisor starts, prepares
    // the data area and cannot become app.
    const std::string no_app = said("setuid: Invalid argument");
    // A tmpfs over /proc, `made` into what the kernel never shows.
    const auto proc_of_its_own = [&](const std::string& label, const std::string& made) -> Row {
        return {.label = label, .caller = user,
                .command = {"/usr/bin/unshare", "-rm", "/bin/bash", "-c",
                            "mount -t tmpfs none /proc && " + made + watchdog},
                .status = 2, .err = no_app, .tools = {"unlock-datafs"},
                .check = logged({started + "uid=? user=? nsuid=0 auid=? ses=?" + args, logged_at("daemon.err", no_app)}),
                .needs = proc_of_its_own_possible};
    };
    return {.rows = {{.label = "unshare --map-user=5, watchdog", .caller = user,
                      .command = {"/bin/bash", "-c",
                                  "{ echo 1001 >/proc/self/loginuid; } 2>/dev/null; exec unshare --map-user=5 "
                                  "--map-group=5 /bin/bash -c '" + watchdog + "'"},
                      .status = 2, .err = NOT_ROOT,
                      .check = logged({refused + "uid=1001 user=user nsuid=5 " + login + args,
                                       logged_at("daemon.err", NOT_ROOT)})},
                     // Nested: the map names only the parent namespace's root, which
                     // from inside may be anyone's: no line reads uid 0 or root.
                     {.label = "unshare -r, then --map-user=5, watchdog", .caller = user,
                      .command = {"/usr/bin/unshare", "-r", "/usr/bin/unshare", "--map-user=5", "--map-group=5",
                                  "/bin/bash", "-c", watchdog},
                      .status = 2, .err = NOT_ROOT,
                      .check = logged({refused + "uid=? user=? nsuid=5 " + unmapped + args,
                                       logged_at("daemon.err", NOT_ROOT)})},
                     // Root's namespace mapping every id to itself, as a container's
                     // may: not the initial one, so its root too shows as "?".
                     {.label = "root, a namespace of the identity map, watchdog", .caller = {.linger = 30, .syslog = true},
                      .command = {"/bin/bash", "-c",
                                  "mkfifo /tmp/made /tmp/mapped; unshare -U /bin/bash -c 'echo >/tmp/made; "
                                  "read <\"/tmp/mapped\"; " + watchdog + "' & read </tmp/made; "
                                  "for map in uid_map gid_map; do echo 0 0 4294967295 >/proc/$!/$map; done; "
                                  "echo >/tmp/mapped; wait $!"},
                      .err = NO_CHILDREN, .tools = {"unlock-datafs"},
                      .check = logged({started + "uid=? user=? nsuid=0 " + root_login + args,
                                       logged_at("daemon.notice", NO_CHILDREN)})},
                     // A /proc of the caller's own, in a mount namespace of its own:
                     // without the links of a kernel that has no user namespaces, or
                     // with one that is not a link, it is not taken for the initial one.
                     proc_of_its_own("unshare -rm, a /proc without links, watchdog", ""),
                     proc_of_its_own("unshare -rm, a /proc whose user namespace is no link, watchdog",
                                     "mkdir -p /proc/self/ns/user && ln -s mnt:[1] /proc/self/ns/mnt && "),
                     // Without a map, its own uid is one the kernel cannot name outside.
                     {.label = "unshare -U, watchdog", .caller = user,
                      .command = {"/usr/bin/unshare", "-U", "/bin/bash", "-c", watchdog},
                      .status = 2, .err = NOT_ROOT,
                      .check = logged({refused + "uid=? user=? nsuid=65534 " + unmapped + args,
                                       logged_at("daemon.err", NOT_ROOT)})}},
            .setuid = true, .needs = user_namespaces_needed};
}

// Without the set-user-ID effect no tool could run: each audited applet says
// so at once, before its first line, and logs, schedules and starts nothing.
// Whatever kept root from it: no_new_privs, a bounding set without CAP_SETUID
// or CAP_SETGID, a user namespace of the caller's (root there).
TABLE(Audit, WithoutRootNothingIsLoggedOrRun) {
    struct Caller {
        std::string label, user;
        Strings before;  // then a shell that becomes app
        Needs needs;
    };
    const Strings as_user{"/usr/bin/setpriv", "--reuid=1001", "--regid=1001", "--clear-groups"};
    const auto bounded = [&](const std::string& cap) {
        Strings command = as_user;
        command.insert(command.end(), {"--bounding-set=-" + cap, "--"});
        return command;
    };
    const std::vector<Caller> callers = {{"no_new_privs", "user", {"/usr/bin/setpriv", "--no-new-privs", "--"}},
                                         {"no CAP_SETUID", "", bounded("setuid")},
                                         {"no CAP_SETGID", "", bounded("setgid")},
                                         {"unshare -r", "user", {"/usr/bin/unshare", "-r"}, user_namespaces_needed}};
    std::vector<Row> rows;
    for (const Caller& c : callers)
        for (const std::string applet : {"reboot 0", "poweroff 0", "service start modem", "time 1796601600 0", "doom 1"}) {
            Strings command = c.before;
            command.insert(command.end(), {"/bin/bash", "-c", shell_exec_app("app") + " " + applet});
            rows.push_back({.label = c.label + ", " + applet, .caller = {.user = c.user, .linger = 2, .syslog = true},
                            .command = command, .status = 2, .err = NOT_ROOT, .check = logged({}), .needs = c.needs});
        }
    return {.rows = rows, .setuid = true, .needs = busybox_needed};
}

}  // namespace
