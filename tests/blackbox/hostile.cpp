#include "hostile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

namespace hostile {

using devroot::DeviceRoot;
using devroot::Record;
using devroot::RunOptions;

const std::string ANY = "\x01(not compared)";
const std::string HOSTILE_DIR = "/tmp/hostile";

namespace {

const std::string TOP_USAGE_TAIL =
    " <applet> [<options>]\napplets:\n  doom\n  led\n  poweroff\n  reboot\n  service\n  time\n  watchdog\n";

int invocations = 0;

std::vector<std::string> led_files() {
    std::vector<std::string> files;
    for (const char* led : {"backlight", "beeper", "lightpipe"})
        for (const char* attribute : {"trigger", "brightness", "max_brightness", "delay_on", "delay_off"})
            files.push_back(std::string("/sys/class/leds/") + led + "/" + attribute);
    return files;
}

// Size, time, mode and owner of everything in the root but the records and the
// LED files, which are checked by content.
std::map<std::string, std::string> snapshot(const DeviceRoot& root) {
    namespace fs = std::filesystem;
    static const std::set<std::string> skipped = {"/records", "/proc", "/.devroot/usr-work", "/.devroot/result"};
    const auto leds = led_files();
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(root.dir); it != fs::recursive_directory_iterator(); ++it) {
        std::string inside = it->path().string().substr(root.dir.size());
        if (skipped.count(inside)) {
            it.disable_recursion_pending();
            continue;
        }
        // The harness rewrites its result file in /.devroot on every run.
        if (inside == "/.devroot" || std::find(leds.begin(), leds.end(), inside) != leds.end()) continue;
        struct stat st{};
        lstat(it->path().c_str(), &st);
        files[inside] = std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                        std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_mode) + " " +
                        std::to_string(st.st_uid);
    }
    return files;
}

void check_tool_start(const Record& r, const std::string& label) {
    static const std::set<std::string> fixed = {"PATH=/usr/bin:/usr/sbin", "HOME=/root", "SDL_NOMOUSE=1"};
    const std::string tool = r.get("tool");
    for (const std::string& e : r.all("env")) EXPECT_TRUE(fixed.count(e)) << label << ": " << tool << " saw " << e;
    EXPECT_EQ(r.get("exe").rfind(HOSTILE_DIR, 0), std::string::npos) << label << ": ran " << r.get("exe");
    std::set<int> seen;
    for (const std::string& fd : r.all("fd")) {
        int number = std::stoi(fd);
        std::string target = fd.substr(fd.find(':') + 1);
        std::string device = fd.substr(fd.rfind(':') + 1);
        seen.insert(number);
        EXPECT_LT(number, 3) << label << ": " << tool << " inherited " << fd;
        // /dev/null by its device, whatever name a bind mount gives it.
        EXPECT_TRUE(device == "char 1,3" || target.rfind("pipe:", 0) == 0) << label << ": " << tool << " got " << fd;
    }
    EXPECT_EQ(seen, (std::set<int>{0, 1, 2})) << label << ": " << tool;
    // Whatever the caller ignored or blocked, real-time signals included.
    EXPECT_EQ(r.get("sigign"), "0000000000000000") << label << ": " << tool;
    EXPECT_EQ(r.get("sigblk"), "0000000000000000") << label << ": " << tool;
}

void run_case(const DeviceRoot& root, const Case& c) {
    const auto before = snapshot(root);
    const std::size_t old_records = root.records().size();
    auto r = root.run(c.args, c.options);
    ++invocations;

    EXPECT_EQ(r.status, c.status) << c.label << "\n" << r.err.substr(0, 300);
    // Texts of 128 KiB stay out of the failure message.
    if (c.err != ANY) {
        EXPECT_TRUE(r.err == c.err) << c.label << ": stderr " << r.err.substr(0, 300);
    }
    EXPECT_EQ(r.out, "") << c.label;

    auto records = root.records();
    std::vector<std::string> started;
    for (std::size_t i = old_records; i < records.size(); ++i) {
        if (records[i].get("event") != "start") continue;
        started.push_back(records[i].get("tool"));
        check_tool_start(records[i], c.label);
    }
    EXPECT_EQ(started, c.tools) << c.label;

    for (const std::string& file : led_files()) {
        auto expected = c.leds.find(file);
        EXPECT_EQ(root.read(file), expected == c.leds.end() ? "" : expected->second) << c.label << ": " << file;
        root.write(file, "");
    }
    const auto after = snapshot(root);
    for (const auto& [path, state] : after) {
        auto old = before.find(path);
        EXPECT_TRUE(old != before.end() && old->second == state) << c.label << ": " << path << " written";
    }
    for (const auto& [path, state] : before) EXPECT_TRUE(after.count(path)) << c.label << ": " << path << " removed";

    // The caller's LD_PRELOAD may reach the app only when root started it.
    std::string preloaded = root.read("/records/preloaded");
    if (c.options.user.empty()) {
        std::size_t line = 0;
        for (std::size_t end; (end = preloaded.find('\n', line)) != std::string::npos; line = end + 1)
            EXPECT_EQ(preloaded.compare(line, 13, "/app/bin/app "), 0) << c.label << ": " << preloaded;
    } else {
        EXPECT_EQ(preloaded, "") << c.label;
    }
    std::remove(root.host_path("/records/preloaded").c_str());
}

// A directory of the caller's own: look-alike tools, a library that reports
// being loaded, a fake C library.
void plant_look_alikes(const DeviceRoot& root) {
    namespace fs = std::filesystem;
    fs::create_directories(root.host_path(HOSTILE_DIR + "/bin"));
    const std::string standin = root.host_path("/.devroot/usr-upper/sbin/reboot");
    for (const char* name : {"reboot", "poweroff", "hwclock", "prboom", "S50nginx", "sh", "unlock-datafs"})
        fs::copy_file(standin, root.host_path(HOSTILE_DIR + "/bin/" + name));
    fs::copy_file(HOSTILE_PRELOAD, root.host_path(HOSTILE_DIR + "/libhook.so"));
    fs::copy_file(HOSTILE_PRELOAD, root.host_path(HOSTILE_DIR + "/libc.so.6"));
    root.write(HOSTILE_DIR + "/tz", "not a zone file");
}

}  // namespace

std::string top_usage(const std::string& program) { return "usage: " + program + TOP_USAGE_TAIL; }

RunOptions opts(std::string user, std::vector<int> closed, std::vector<std::string> env,
                std::vector<std::string> rlimits) {
    RunOptions o;
    o.user = std::move(user);
    o.close_fds = std::move(closed);
    o.env = std::move(env);
    o.rlimits = std::move(rlimits);
    o.linger = 5;  // ends as soon as every process of the run has ended
    return o;
}

std::vector<std::string> hazard_environment() {
    const std::string d = HOSTILE_DIR;
    return {"LD_PRELOAD=" + d + "/libhook.so",
            "LD_LIBRARY_PATH=" + d,
            "LD_AUDIT=" + d + "/libhook.so",
            "GCONV_PATH=" + d,
            "LOCPATH=" + d,
            "MALLOC_CHECK_=3",
            "MALLOC_PERTURB_=165",
            "MALLOC_ARENA_MAX=1",
            "GLIBC_TUNABLES=glibc.malloc.check=3:glibc.malloc.tcache_count=0",
            "TZ=" + d + "/tz",
            "NLSPATH=" + d + "/%N",
            "IFS=/",
            "PATH=" + d + "/bin",
            "LANG=xx_XX.UTF-8",
            "LC_ALL=xx_XX.UTF-8"};
}

void run_table(const std::vector<Case>& cases) {
    REQUIRE_ROOT();
    DeviceRoot root(true);
    plant_look_alikes(root);
    for (const Case& c : cases) run_case(root, c);
    std::printf("hostile invocations tried: %d\n", invocations);
}

}  // namespace hostile
