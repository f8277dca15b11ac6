// led: the bytes in each attribute file, the order of writes, every refusal.
#include "device_root.h"

#include <filesystem>
#include <map>

namespace {

using devroot::DeviceRoot;
using devroot::RunOptions;

using Files = std::map<std::string, std::string>;  // "led/attribute" -> bytes

const char* const LEDS[] = {"backlight", "beeper", "lightpipe"};
const char* const ATTRIBUTES[] = {"trigger", "brightness", "max_brightness", "delay_on", "delay_off"};
const std::string USAGE = "usage: app led {backlight|beeper|lightpipe} <trigger> [<param1> <value1> [...]]\n";

std::string attribute_path(const std::string& file) { return "/sys/class/leds/" + file; }

// Every attribute file of every LED. Links are not followed: one may lead to /dev/full.
Files led_files(const DeviceRoot& root) {
    Files files;
    for (const char* led : LEDS)
        for (const char* attribute : ATTRIBUTES) {
            std::string file = std::string(led) + "/" + attribute;
            std::string path = attribute_path(file);
            files[file] = !root.exists(path)                                          ? "(missing)"
                          : std::filesystem::is_symlink(root.host_path(path)) ? "(link)"
                                                                                   : root.read(path);
        }
    return files;
}

// All files empty except those named.
Files expected(const Files& written) {
    Files files;
    for (const char* led : LEDS)
        for (const char* attribute : ATTRIBUTES) files[std::string(led) + "/" + attribute] = "";
    for (const auto& [file, bytes] : written) files[file] = bytes;
    return files;
}

void clear_led_files(const DeviceRoot& root) {
    for (const auto& [file, bytes] : expected({})) root.write(attribute_path(file), "");
}

struct LedCase {
    std::vector<std::string> args;  // after "led"
    int status;
    std::string err;
    Files written;
};

TEST(Led, WritesExactBytesInOrderAndStopsAtTheFirstRefusal) {
    REQUIRE_ROOT();
    DeviceRoot root;
    const std::string long_name(4070, 'n');  // 26 + 4070 bytes leave no room for the final zero
    const LedCase cases[] = {
        {{"beeper", "heartbeat"}, 0, "", {{"beeper/trigger", "heartbeat"}}},
        {{"lightpipe", "timer", "delay_on", "100", "delay_off", "900"}, 0, "",
         {{"lightpipe/trigger", "timer"}, {"lightpipe/delay_on", "100"}, {"lightpipe/delay_off", "900"}}},
        // Bytes as given: nothing added, nothing stripped; an empty value is zero bytes.
        {{"backlight", "timer\n", "brightness", " 2\xff 5 ", "max_brightness", "", "delay_on", "7"}, 0, "",
         {{"backlight/trigger", "timer\n"}, {"backlight/brightness", " 2\xff 5 "}, {"backlight/delay_on", "7"}}},
        {{"beeper", "none", "brightness", "1", "a/b", "2", "delay_on", "3"}, 1, "app: invalid parameter name: a/b\n",
         {{"beeper/trigger", "none"}, {"beeper/brightness", "1"}}},
        {{"beeper", "none", "../../../../etc/passwd", "x"}, 1,
         "app: invalid parameter name: ../../../../etc/passwd\n", {{"beeper/trigger", "none"}}},
        {{"beeper", "none", "/", "x"}, 1, "app: invalid parameter name: /\n", {{"beeper/trigger", "none"}}},
        // Names without "/" stay in the LED's directory or its parent: directories, never written.
        {{"beeper", "none", "..", "x"}, 2, "app: open /sys/class/leds/beeper/..: Is a directory\n",
         {{"beeper/trigger", "none"}}},
        {{"beeper", "none", ".", "x"}, 2, "app: open /sys/class/leds/beeper/.: Is a directory\n",
         {{"beeper/trigger", "none"}}},
        {{"beeper", "none", "", "x"}, 2, "app: open /sys/class/leds/beeper/: Is a directory\n",
         {{"beeper/trigger", "none"}}},
        {{"backlight", "none", long_name, "x"}, 2, "app: path too long\n", {{"backlight/trigger", "none"}}},
        // Refused before anything is written.
        {{}, 1, USAGE, {}},
        {{"beeper"}, 1, USAGE, {}},
        {{"beeper", "none", "brightness"}, 1, USAGE, {}},
        {{"beeper", "none", "brightness", "1", "delay_on"}, 1, USAGE, {}},
        {{"Beeper", "none"}, 1, USAGE, {}},
        {{"beeper ", "none"}, 1, USAGE, {}},
        {{"beeper/", "none"}, 1, USAGE, {}},
        {{"", "none"}, 1, USAGE, {}},
        {{"leds", "none"}, 1, USAGE, {}},
        {{"../leds/beeper", "none"}, 1, USAGE, {}},
    };
    const std::string passwd = root.read("/etc/passwd");
    for (const LedCase& c : cases) {
        std::vector<std::string> args{"led"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string label = c.args.empty() ? "(no LED)" : c.args[0] + " " + c.args.back().substr(0, 20);
        clear_led_files(root);
        auto r = root.run(args);
        EXPECT_EQ(r.status, c.status) << label;
        EXPECT_EQ(r.err, c.err) << label;
        EXPECT_EQ(led_files(root), expected(c.written)) << label;
    }
    EXPECT_EQ(root.read("/etc/passwd"), passwd);
}

// 26 + 4069 bytes and the final zero fill the buffer exactly: the path reaches open.
TEST(Led, LongestNameThatFitsReachesOpen) {
    REQUIRE_ROOT();
    DeviceRoot root;
    const std::string name(4069, 'x');
    auto r = root.run({"led", "backlight", "none", name, "1"});
    EXPECT_EQ(r.status, 2);
    const std::string prefix = "app: open /sys/class/leds/backlight/" + name + ": ";
    ASSERT_EQ(r.err.substr(0, prefix.size()), prefix);
    // Which of the two depends on the file system holding the directory.
    std::string reason = r.err.substr(prefix.size());
    EXPECT_TRUE(reason == "No such file or directory\n" || reason == "File name too long\n") << reason;
    EXPECT_EQ(root.read(attribute_path("backlight/trigger")), "none");
}

// Each refusal leaves earlier attributes written, later ones untouched.
TEST(Led, FailingAttributeStopsTheRest) {
    REQUIRE_ROOT();
    DeviceRoot root;
    std::filesystem::remove(root.host_path(attribute_path("lightpipe/delay_on")));
    std::filesystem::remove(root.host_path(attribute_path("beeper/brightness")));
    std::filesystem::create_symlink("/dev/full", root.host_path(attribute_path("beeper/brightness")));

    auto r = root.run({"led", "lightpipe", "timer", "brightness", "3", "delay_on", "100", "delay_off", "900"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "app: open /sys/class/leds/lightpipe/delay_on: No such file or directory\n");
    // Never created: only attributes that exist are written.
    EXPECT_EQ(led_files(root)["lightpipe/delay_on"], "(missing)");

    r = root.run({"led", "beeper", "none", "brightness", "1", "delay_on", "5"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "app: write: No space left on device\n");

    EXPECT_EQ(led_files(root), expected({{"lightpipe/trigger", "timer"},
                                         {"lightpipe/brightness", "3"},
                                         {"lightpipe/delay_on", "(missing)"},
                                         {"beeper/trigger", "none"},
                                         {"beeper/brightness", "(link)"}}));
}

// A file size limit of 4 bytes (soft: the app's exit may lift it) cuts the write short.
TEST(Led, ShortWriteIsReported) {
    REQUIRE_ROOT();
    DeviceRoot root;
    auto r = root.run_command({"/bin/bash", "-c",
                               "prlimit --pid $$ --fsize=4: && " + devroot::shell_exec_app("app") +
                                   " led beeper none brightness 123456"},
                              {});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "app: partial write\n");
    EXPECT_EQ(root.read(attribute_path("beeper/trigger")), "none");
    EXPECT_EQ(root.read(attribute_path("beeper/brightness")), "1234");
}

// The applet keeps the identity it was started with: root only through the set-user-ID install.
TEST(Led, UnprivilegedCallerNeedsTheSetUserIdInstall) {
    REQUIRE_ROOT();
    RunOptions o;
    o.user = "user";
    DeviceRoot installed(true);
    auto r = installed.run({"led", "backlight", "timer", "brightness", "10"}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(led_files(installed), expected({{"backlight/trigger", "timer"}, {"backlight/brightness", "10"}}));

    DeviceRoot plain(false);
    r = plain.run({"led", "backlight", "timer"}, o);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "app: open /sys/class/leds/backlight/trigger: Permission denied\n");
    EXPECT_EQ(led_files(plain), expected({}));
}

}  // namespace
