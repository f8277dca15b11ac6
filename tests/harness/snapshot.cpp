#include "snapshot.h"

#include <sys/stat.h>

#include <filesystem>
#include <set>

#include <gtest/gtest.h>

namespace devroot {

namespace fs = std::filesystem;

// The records (the kernel log a FIFO, whose time a write moves) and the
// harness's own files change in every run; the LED files are compared by content.
Snapshot snapshot(const DeviceRoot& root) {
    static const std::set<std::string> skipped = {"/records", "/dev/kmsg", "/proc", "/.devroot/usr-work",
                                                  "/.devroot/result"};
    Snapshot files;
    for (auto it = fs::recursive_directory_iterator(root.dir); it != fs::recursive_directory_iterator(); ++it) {
        std::string inside = it->path().string().substr(root.dir.size());
        if (skipped.count(inside)) {
            it.disable_recursion_pending();
            continue;
        }
        if (inside == "/.devroot" || inside.rfind("/sys/class/leds/", 0) == 0) continue;
        struct stat st{};
        lstat(it->path().c_str(), &st);
        files[inside] = std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                        std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_mode) + " " +
                        std::to_string(st.st_uid);
    }
    return files;
}

void expect_unchanged(const Snapshot& before, const Snapshot& after, const std::string& label) {
    for (const auto& [path, state] : after) {
        auto old = before.find(path);
        EXPECT_TRUE(old != before.end() && old->second == state) << label << ": " << path << " written";
    }
    for (const auto& [path, state] : before) EXPECT_TRUE(after.count(path)) << label << ": " << path << " removed";
}

}  // namespace devroot
