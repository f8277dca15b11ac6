// led: the bytes in each attribute file, the order of writes, every refusal.
#include <filesystem>

#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;

// An attribute file of an LED ("beeper/trigger").
std::string sys(const std::string& file) { return "/sys/class/leds/" + file; }

// 26 + 4069 bytes and the final zero fill the buffer exactly: the path
// reaches open, whose error depends on the file system holding the directory.
void opened_the_longest_name(const DeviceRoot&, const RunResult& r) {
    const std::string prefix = "app: open /sys/class/leds/backlight/" + std::string(4069, 'x') + ": ";
    ASSERT_EQ(r.err.substr(0, prefix.size()), prefix);
    std::string reason = r.err.substr(prefix.size());
    EXPECT_TRUE(reason == "No such file or directory\n" || reason == "File name too long\n") << reason;
}

// Nothing but the LED files named changes (/etc/passwd, say).
TABLE(Led, WritesExactBytesInOrderAndStopsAtTheFirstRefusal) {
    const std::string long_name(4070, 'n');  // 26 + 4070 bytes leave no room for the final zero
    return {.rows = {
        {.args = {"led", "beeper", "heartbeat"}, .leds = {{sys("beeper/trigger"), "heartbeat"}}},
        {.args = {"led", "lightpipe", "timer", "delay_on", "100", "delay_off", "900"},
         .leds = {{sys("lightpipe/trigger"), "timer"}, {sys("lightpipe/delay_on"), "100"},
                  {sys("lightpipe/delay_off"), "900"}}},
        // Bytes as given: nothing added, nothing stripped; an empty value is zero bytes.
        {.args = {"led", "backlight", "timer\n", "brightness", " 2\xff 5 ", "max_brightness", "", "delay_on", "7"},
         .leds = {{sys("backlight/trigger"), "timer\n"}, {sys("backlight/brightness"), " 2\xff 5 "},
                  {sys("backlight/delay_on"), "7"}}},
        {.args = {"led", "beeper", "none", "brightness", "1", "a/b", "2", "delay_on", "3"}, .status = 1,
         .err = invalid_name("a/b"), .leds = {{sys("beeper/trigger"), "none"}, {sys("beeper/brightness"), "1"}}},
        {.args = {"led", "beeper", "none", "../../../../etc/passwd", "x"}, .status = 1,
         .err = invalid_name("../../../../etc/passwd"), .leds = {{sys("beeper/trigger"), "none"}}},
        {.args = {"led", "beeper", "none", "/", "x"}, .status = 1, .err = invalid_name("/"),
         .leds = {{sys("beeper/trigger"), "none"}}},
        // The device core's file beside the attributes: a write would have the kernel send a made-up event.
        {.args = {"led", "beeper", "none", "uevent", "add"}, .status = 1, .err = invalid_name("uevent"),
         .leds = {{sys("beeper/trigger"), "none"}}},
        // Names without "/" stay in the LED's directory or its parent: directories, never written.
        {.args = {"led", "beeper", "none", "..", "x"}, .status = 2,
         .err = said("open /sys/class/leds/beeper/..: Is a directory"), .leds = {{sys("beeper/trigger"), "none"}}},
        {.args = {"led", "beeper", "none", ".", "x"}, .status = 2,
         .err = said("open /sys/class/leds/beeper/.: Is a directory"), .leds = {{sys("beeper/trigger"), "none"}}},
        {.args = {"led", "beeper", "none", "", "x"}, .status = 2,
         .err = said("open /sys/class/leds/beeper/: Is a directory"), .leds = {{sys("beeper/trigger"), "none"}}},
        {.args = {"led", "backlight", "none", long_name, "x"}, .status = 2, .err = said("path too long"),
         .leds = {{sys("backlight/trigger"), "none"}}},
        {.label = "the longest name that fits", .args = {"led", "backlight", "none", std::string(4069, 'x'), "1"},
         .status = 2, .err = ANY, .leds = {{sys("backlight/trigger"), "none"}},
         .check = opened_the_longest_name},
        // A file size limit of 4 bytes (soft: the app's exit may lift it) cuts the write short.
        {.label = "short write",
         .command = {"/bin/bash", "-c",
                     "prlimit --pid $$ --fsize=4: && " + shell_exec_app("app") +
                         " led beeper none brightness 123456"},
         .status = 2, .err = said("partial write"),
         .leds = {{sys("beeper/trigger"), "none"}, {sys("beeper/brightness"), "1234"}}},
        // Refused before anything is written.
        {.args = {"led"}, .status = 1, .err = LED_USAGE},
        {.args = {"led", "beeper"}, .status = 1, .err = LED_USAGE},
        {.args = {"led", "beeper", "none", "brightness"}, .status = 1, .err = LED_USAGE},
        {.args = {"led", "beeper", "none", "brightness", "1", "delay_on"}, .status = 1, .err = LED_USAGE},
        {.args = {"led", "Beeper", "none"}, .status = 1, .err = LED_USAGE},
        {.args = {"led", "beeper ", "none"}, .status = 1, .err = LED_USAGE},
        {.args = {"led", "beeper/", "none"}, .status = 1, .err = LED_USAGE},
        {.args = {"led", "", "none"}, .status = 1, .err = LED_USAGE},
        {.args = {"led", "leds", "none"}, .status = 1, .err = LED_USAGE},
        {.args = {"led", "../leds/beeper", "none"}, .status = 1, .err = LED_USAGE},
    },
            .unchanged = true};
}

// Each refusal leaves earlier attributes written, later ones untouched; an
// attribute that does not exist is never created.
TABLE(Led, FailingAttributeStopsTheRest) {
    const auto break_two = [](const DeviceRoot& root) {
        std::filesystem::remove(root.host_path(sys("lightpipe/delay_on")));
        std::filesystem::remove(root.host_path(sys("beeper/brightness")));
        std::filesystem::create_symlink("/dev/full", root.host_path(sys("beeper/brightness")));
    };
    const auto never_created = [](const DeviceRoot& root, const Row&, const RunResult&) {
        EXPECT_FALSE(root.exists(sys("lightpipe/delay_on")));
    };
    return {.rows = {
        {.args = {"led", "lightpipe", "timer", "brightness", "3", "delay_on", "100", "delay_off", "900"},
         .status = 2, .err = said("open /sys/class/leds/lightpipe/delay_on: No such file or directory"),
         .leds = {{sys("lightpipe/trigger"), "timer"}, {sys("lightpipe/brightness"), "3"},
                  {sys("beeper/brightness"), "(link)"}}},
        {.args = {"led", "beeper", "none", "brightness", "1", "delay_on", "5"}, .status = 2,
         .err = said("write: No space left on device"),
         .leds = {{sys("beeper/trigger"), "none"}, {sys("beeper/brightness"), "(link)"}}},
    },
            .prepare = break_two, .each = never_created};
}

// The applet keeps the identity it was started with: root only through the set-user-ID install.
TABLE(Led, UnprivilegedCallerNeedsTheSetUserIdInstall) {
    return {.rows = {{.args = {"led", "backlight", "timer", "brightness", "10"}, .caller = AS_USER,
                      .leds = {{sys("backlight/trigger"), "timer"}, {sys("backlight/brightness"), "10"}}}},
            .setuid = true};
}
TABLE(Led, WithoutTheSetUserIdInstallTheCallerIsRefused) {
    return {.rows = {{.args = {"led", "backlight", "timer"}, .caller = AS_USER, .status = 2,
                      .err = said("open /sys/class/leds/backlight/trigger: Permission denied")}}};
}

}  // namespace
