#include "device_root.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace devroot {
namespace {

std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        if (c == 't') out += '\t';
        else if (c == 'n') out += '\n';
        else if (c == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else out += c;
    }
    return out;
}

Record parse_record(std::string_view line) {
    Record record;
    while (!line.empty()) {
        std::size_t tab = line.find('\t');
        std::string_view f = line.substr(0, tab);
        std::size_t eq = f.find('=');
        record.fields.emplace_back(std::string(f.substr(0, eq)),
                                   eq == std::string_view::npos ? "" : unescape(f.substr(eq + 1)));
        line = tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
    }
    return record;
}

// setpriv's options for RunOptions::user, and in `owner` its "uid:gid".
std::vector<std::string> identity(const RunOptions& o, std::string& owner) {
    const std::string ids = o.user.empty() ? "0:0:0" : o.user == "user" ? "1001:1001:1001" : o.user;
    const std::size_t gid = ids.find(':') + 1, groups = ids.find(':', gid) + 1;
    owner = ids.substr(0, groups - 1);
    return {"/usr/bin/setpriv", "--reuid=" + ids.substr(0, gid - 1), "--regid=" + ids.substr(gid, groups - gid - 1),
            o.session || groups == ids.size() ? "--clear-groups" : "--groups=" + ids.substr(groups), "--"};
}

// Reads both pipes to end of file: background children of the app may hold them.
void drain(int out_fd, int err_fd, RunResult& result) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents) continue;
            char buf[65536];
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

std::vector<std::string> emulator_words() {
    std::vector<std::string> words;
    const char* text = std::getenv("APP_EMULATOR");
    std::istringstream in(text ? text : "");
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// The argv that starts the installed app with `argv0`: natively the caller's
// last step (caller.c) sets argv[0]; the emulator is told it instead.
std::vector<std::string> app_argv(const std::string& argv0) {
    std::vector<std::string> words = emulator_words();
    if (words.empty()) return {"/app/bin/app"};
    words[0] = "/.devroot/emu/emulator";
    words.insert(words.end(), {"-0", argv0, "/app/bin/app"});
    return words;
}

// Starts `argv` (argv[0] a path) with `fds` on descriptors 0, 1, 2 (-1: as ours).
pid_t start(std::vector<std::string> argv, const std::vector<int>& fds) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    for (std::size_t fd = 0; fd < fds.size(); ++fd)
        if (fds[fd] >= 0) dup2(fds[fd], static_cast<int>(fd));
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    execv(raw[0], raw.data());
    _exit(127);
}

// Runs device-root with `args`, to its end; any failure ends the test.
void device_root_tool(std::vector<std::string> args) {
    args.insert(args.begin(), DEVICE_ROOT_TOOL);
    int status = 0;
    if (waitpid(start(args, {}), &status, 0) < 0 || status != 0)
        throw std::runtime_error("device-root " + args[1] + " failed");
}

std::string shell_quote(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    quoted += '\'';
    return quoted;
}

}  // namespace

std::string Record::get(std::string_view key) const {
    for (const auto& [k, v] : fields)
        if (k == key) return v;
    return "";
}

std::vector<std::string> Record::all(std::string_view key) const {
    std::vector<std::string> values;
    for (const auto& [k, v] : fields)
        if (k == key) values.push_back(v);
    return values;
}

std::string Record::ids() const {
    std::string text = get("k.status.Uid") + "/" + get("k.status.Gid") + "/" + get("k.status.Groups");
    std::replace(text.begin(), text.end(), '\t', ' ');
    return text;
}

std::string app_under_test() {
    const char* app = std::getenv("APP_UNDER_TEST");
    return app && *app ? app : APP_BINARY;
}

bool emulated() { return !emulator_words().empty(); }

namespace {
// Built for the app's machine; under the emulator it reaches the emulated
// program through the emulator's own variable.
std::string screen_library() { return emulated() ? FB_PRELOAD_ARMHF : FB_PRELOAD_LIBRARY; }
}  // namespace

// Set-user-ID in a system directory: the loader takes it for a set-user-ID program too.
bool root_lifts_limits() {
    constexpr int CAP_SYS_RESOURCE_BIT = 24;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("CapBnd:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> CAP_SYS_RESOURCE_BIT) & 1;
    return false;
}

// The first cgroup2 mount, as device-root takes it, writable (fields: id,
// parent, device, root, mount point, options).
bool cgroup2_available() {
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        if (line.find(" - cgroup2 ") == std::string::npos) continue;
        std::istringstream fields(line);
        std::string id, parent, device, root, point, options;
        fields >> id >> parent >> device >> root >> point >> options;
        return options.rfind("rw", 0) == 0 && access(point.c_str(), W_OK) == 0;
    }
    return false;
}

// Where device-root looks for it.
bool rsyslog_available() {
    const char* unpacked = std::getenv("DEVROOT_RSYSLOG");
    const std::filesystem::path harness = std::filesystem::path(DEVICE_ROOT_TOOL).parent_path();
    const std::string dir = unpacked && *unpacked ? unpacked : (harness / "../../build/rsyslog").string();
    return access((dir + "/.complete").c_str(), F_OK) == 0;
}

bool screen_available() { return !screen_library().empty(); }

void give_screen(const DeviceRoot& root, const std::string& resolution) {
    std::ifstream library(screen_library(), std::ios::binary);
    std::ostringstream bytes;
    bytes << library.rdbuf();
    root.write("/.devroot/usr-upper/lib/libfb_preload.so", bytes.str(), 04755);
    root.write("/etc/standin/fb0", resolution);
    root.control("prboom", "sleep 100000");
}

std::string screen_env() {
    return emulated() ? "QEMU_SET_ENV=LD_PRELOAD=libfb_preload.so" : "LD_PRELOAD=libfb_preload.so";
}

std::string shell_exec_app(const std::string& argv0) {
    std::string text = "exec";
    if (!emulated()) text.append(" -a ").append(shell_quote(argv0));
    for (const std::string& word : app_argv(argv0)) text.append(" ").append(shell_quote(word));
    return text;
}

std::vector<std::string> without_new_privileges(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/setpriv", "--no-new-privs", "--", "/bin/bash", "-c",
                                  shell_exec_app("app") + " \"$@\"", "bash"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

DeviceRoot::DeviceRoot(bool setuid) {
    char pattern[] = "/tmp/devroot.XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    parent = pattern;
    dir = parent + "/root";
    std::vector<std::string> args{"create", dir, "--helpers", DEVROOT_HELPERS, "--app", app_under_test()};
    if (setuid) args.push_back("--setuid");
    if (emulated()) args.insert(args.end(), {"--emulator", emulator_words()[0]});
    device_root_tool(args);
}

DeviceRoot::~DeviceRoot() {
    const char* keep = std::getenv("KEEP_DEVROOT");
    if (keep && *keep) return;
    std::error_code ignored;
    std::filesystem::remove_all(parent, ignored);
}

std::string DeviceRoot::host_path(std::string_view inside) const {
    if (inside.rfind("/usr/", 0) == 0) return dir + "/.devroot/usr-upper" + std::string(inside.substr(4));
    return dir + std::string(inside);
}

void DeviceRoot::write(std::string_view inside, std::string_view content, mode_t mode) const {
    std::string path = host_path(inside);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    chmod(path.c_str(), mode);
}

std::string DeviceRoot::read(std::string_view inside) const {
    std::ifstream in(host_path(inside), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool DeviceRoot::exists(std::string_view inside) const {
    struct stat st{};
    return lstat(host_path(inside).c_str(), &st) == 0;
}

void DeviceRoot::control(std::string_view tool, std::string_view text) const {
    write("/etc/standin/" + std::string(tool), text);
}

void DeviceRoot::install(const std::string& from, std::string_view inside, mode_t mode) const {
    const std::string path = host_path(inside);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::copy_file(from, path, std::filesystem::copy_options::overwrite_existing);
    chmod(path.c_str(), mode);
}

void DeviceRoot::standin(std::string_view inside, mode_t mode) const {
    device_root_tool({"standin", dir, std::string(inside)});
    chmod(host_path(inside).c_str(), mode);
}

void DeviceRoot::configure(std::string_view config, const std::vector<std::string>& programs) const {
    for (const std::string& name : programs) standin("/data/" + name);
    write(CONFIG_FILE, config);
}

RunResult DeviceRoot::run(const std::vector<std::string>& args, const RunOptions& options) const {
    std::vector<std::string> argv{"/app/bin/app"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_command(argv, options);
}

namespace {

using Words = std::vector<std::string>;

void append(Words& to, const Words& words) { to.insert(to.end(), words.begin(), words.end()); }

// A shell that runs `script`, then becomes the rest of the command line.
Words shell_step(const std::string& script) { return {"/bin/sh", "-c", script + " && exec \"$@\"", "sh"}; }

// The tools in front of the command, each of which sets part of the
// caller's state and execs the next, so that the command's parent is still
// the run's init (the audit line's parent=/.devroot/init). The limits come
// after the identity change (setpriv makes a process over its RLIMIT_NPROC
// fail its next exec) and after the closed descriptors, which the loaders
// of the tools below a limit then find free, as the app's does. The
// environment comes after every tool whose loader it would steer (LD_PRELOAD).
Words caller_tools(const RunOptions& o) {
    std::string owner;
    const Words setpriv = identity(o, owner);
    Words chain;
    // A service manager's delegation, as root: the cgroup's own files become the caller's.
    if (!o.delegate.empty())
        chain = shell_step("cd /sys/fs/cgroup && mkdir " + o.delegate + " && cd " + o.delegate + " && chown " + owner +
                           " . cgroup.procs cgroup.threads cgroup.subtree_control && echo 0 >cgroup.procs");
    append(chain, {"/usr/bin/env", "-i", "-C", o.cwd});
    if (o.session) chain.push_back("--default-signal");
    for (int sig : o.ignored) chain.push_back("--ignore-signal=" + std::to_string(sig));
    for (int sig : o.blocked) chain.push_back("--block-signal=" + std::to_string(sig));
    chain.push_back("--");
    if (o.session) chain.push_back("/usr/bin/setsid");
    append(chain, setpriv);
    if (o.session) {  // a service's own anonymous session keyring (keyctl names it on stderr) and mask
        append(chain, {"/usr/bin/keyctl", "session", "-"});
        append(chain, shell_step("umask 022"));
    }
    std::string closes = "exec";
    for (int fd : o.close_fds) closes += " " + std::to_string(fd) + ">&-";
    if (!o.close_fds.empty()) append(chain, shell_step(closes));
    if (!o.rlimits.empty()) {
        chain.push_back("/usr/bin/prlimit");
        for (const std::string& l : o.rlimits) chain.push_back("--" + l + ":");  // "nofile=3": the soft limit
        chain.push_back("--");
    }
    append(chain, {"/usr/bin/env", "-i", "--"});
    append(chain, o.env);
    return chain;
}

// The command, the app as the caller names it; in front of it, when the
// caller names it otherwise than by its path, or is hostile, what no tool
// sets on a caller (caller.c).
Words command_line(const RunOptions& o, Words command) {
    Words step{"/.devroot/caller"};
    if (command[0] == "/app/bin/app" && !o.no_argv) {
        const Words app = app_argv(o.argv0);
        command.erase(command.begin());
        command.insert(command.begin(), app.begin(), app.end());
        if (!emulated() && o.argv0 != command[0]) append(step, {"--argv0", o.argv0});
    }
    if (o.no_argv) step.push_back("--no-argv");
    if (o.hostile) step.push_back("--hostile");
    if (step.size() == 1) return command;
    step.push_back("--");
    append(step, command);
    return step;
}

}  // namespace

RunResult DeviceRoot::run_command(const std::vector<std::string>& given, RunOptions o) const {
    std::vector<std::string> argv{DEVICE_ROOT_TOOL, "run", dir};
    if (o.cgroup2) argv.push_back("--cgroup2");
    if (o.syslog || o.rsyslog) argv.push_back("--syslog");
    if (o.rsyslog) argv.push_back("rsyslog");
    if (o.kmsg) argv.push_back("--kmsg");
    argv.insert(argv.end(), {"--result", "/.devroot/result", "--linger", std::to_string(o.linger)});
    if (o.timeout > 0)
        argv.insert(argv.end(), {"--timeout", std::to_string(o.timeout), "--signal", std::to_string(o.signal)});
    argv.push_back("--");
    append(argv, caller_tools(o));
    append(argv, command_line(o, given));
    unlink(host_path("/.devroot/result").c_str());

    int out[2], errp[2], in[2];
    if (pipe2(out, O_CLOEXEC) || pipe2(errp, O_CLOEXEC) || pipe2(in, O_CLOEXEC)) throw std::runtime_error("pipe");
    RunResult result;
    const int input = o.stdin_pipe ? in[0] : open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = o.streams >= 0 ? start(argv, {o.streams, o.streams, o.streams})
                                     : start(argv, {input, out[1], errp[1]});
    if (!o.stdin_pipe) close(input);
    close(out[1]);
    close(errp[1]);
    close(in[0]);
    if (o.stdin_pipe && !o.stdin_text.empty())
        (void)!::write(in[1], o.stdin_text.data(), o.stdin_text.size());
    close(in[1]);
    drain(out[0], errp[0], result);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::istringstream report(read("/.devroot/result"));
    for (std::string line; std::getline(report, line);) {
        if (line.rfind("elapsed_ms=", 0) == 0) result.elapsed_ms = std::stol(line.substr(11));
        if (line.rfind("started_ms=", 0) == 0) result.started_ms = std::stol(line.substr(11));
    }
    return result;
}

std::vector<Record> DeviceRoot::records() const {
    std::vector<Record> records;
    std::istringstream log(read("/records/log"));
    for (std::string line; std::getline(log, line);)
        if (!line.empty()) records.push_back(parse_record(line));
    return records;
}

namespace {

// Every run of digits after `prefix` in `text` shown as "N".
std::string mask_number_after(std::string text, std::string_view prefix) {
    for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
        const std::size_t digits = at + prefix.size();
        std::size_t end = digits;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
        if (end > digits) text.replace(digits, end - digits, "N");
    }
    return text;
}

// A line as the tests compare it: the app's pid, the caller's and its audit
// session are "N".
std::string masked_pids(const std::string& line) {
    return mask_number_after(mask_number_after(mask_number_after(line, " app["), " pid="), " ses=");
}

}  // namespace

std::vector<std::string> DeviceRoot::log_lines() const {
    // busybox syslogd: "Dec  8 17:35:55 HOST FACILITY.LEVEL app[13]: TEXT"
    std::vector<std::string> lines;
    std::istringstream log(read("/records/syslog"));
    for (std::string text; std::getline(log, text);) {
        const std::size_t tag = text.find(" app[");
        if (tag == std::string::npos) continue;
        const std::size_t level = text.rfind(' ', tag - 1);
        lines.push_back(masked_pids(text.substr(level + 1)));
    }
    return lines;
}

std::vector<std::string> DeviceRoot::kmsg_lines() const {
    // The names busybox syslogd gives, so that a line reads the same in either log.
    static const char* const facilities[24] = {"kern", "user", "mail", "daemon", "auth", "syslog", "lpr", "news",
                                               "uucp", "cron", "authpriv", "ftp", nullptr, nullptr, nullptr, nullptr,
                                               "local0", "local1", "local2", "local3", "local4", "local5", "local6",
                                               "local7"};
    static const char* const levels[8] = {"emerg", "alert", "crit", "err", "warn", "notice", "info", "debug"};
    std::vector<std::string> lines;
    std::istringstream log(read("/records/kmsg"));
    for (std::string text; std::getline(log, text);) {
        if (text == "devroot: end of run") continue;  // process 1's, written last (device-root)
        std::size_t close = 1;
        while (close < text.size() && std::isdigit(static_cast<unsigned char>(text[close]))) ++close;
        const bool tagged =
            text.rfind('<', 0) == 0 && close > 1 && close < 5 && close < text.size() && text[close] == '>';
        const int priority = tagged ? std::stoi(text.substr(1, close - 1)) : -1;
        const char* facility = priority >= 0 && priority / 8 < 24 ? facilities[priority / 8] : nullptr;
        if (!facility) {
            lines.push_back(text);
            continue;
        }
        const std::string line = std::string(facility) + "." + levels[priority % 8] + " " + text.substr(close + 1);
        lines.push_back(masked_pids(line));
    }
    return lines;
}

std::vector<Record> DeviceRoot::log_credentials() const {
    std::vector<Record> senders;
    std::istringstream log(read("/records/syslog-trusted"));
    for (std::string text; std::getline(log, text);) {
        Record sender = parse_record(text);
        for (auto& [key, value] : sender.fields)
            if (key == "line") value = masked_pids(value);
        if (sender.get("line").find(" app[") != std::string::npos) senders.push_back(std::move(sender));
    }
    return senders;
}

std::vector<Record> DeviceRoot::records_of(std::string_view tool, std::string_view event) const {
    std::vector<Record> matching;
    for (Record& r : records())
        if (r.get("tool") == tool && r.get("event") == event) matching.push_back(std::move(r));
    return matching;
}

}  // namespace devroot
