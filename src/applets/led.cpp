// led: set an LED's trigger, then further attributes, through sysfs.
//
// Attribute names come from the caller, who may be anyone: a name may not
// contain "/", so every path stays one component below the LED's directory.
// "", "." and ".." name directories, which open for writing refuses.
// "uevent" is the device core's file, not an LED attribute: a write makes the
// kernel send an event with the caller's variables to udev or to the hotplug
// helper, which run as root.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <err.h>

#include "applets/applets.h"
#include "common/files.h"

namespace {

constexpr std::size_t LED_PATH_SIZE = 4096;

// The LED's directory, then the attribute name copied in place after it.
struct LedPathBuffer {
    char path[LED_PATH_SIZE];
};

// Zero-filled until an LED is chosen: filled in at build time they would put
// 12 KiB of mostly zero bytes into the executable.
LedPathBuffer backlight_path;
LedPathBuffer beeper_path;
LedPathBuffer lightpipe_path;

struct Led {
    const char* name;
    const char* directory;
    LedPathBuffer& buffer;
};

// Compared in this order; the first exact match wins.
const Led LEDS[] = {
    {"backlight", "/sys/class/leds/backlight/", backlight_path},
    {"beeper", "/sys/class/leds/beeper/", beeper_path},
    {"lightpipe", "/sys/class/leds/lightpipe/", lightpipe_path},
};

[[noreturn]] void usage(const AppletArgs& args) {
    std::fprintf(stderr, "usage: %s %s {backlight|beeper|lightpipe} <trigger> [<param1> <value1> [...]]\n",
                 args.program, args.args[0]);
    std::exit(1);
}

// One open, one write, one checked close: sysfs takes a value per write.
// No create or truncate flags: only attributes the kernel offers are written.
void write_led_attribute(LedPathBuffer& buffer, std::size_t prefix_length, const char* name,
                         const char* value) {
    char* path = buffer.path;
    std::strncpy(path + prefix_length, name, LED_PATH_SIZE - prefix_length);
    if (path[LED_PATH_SIZE - 1] != '\0') errx(2, "path too long");

    switch (write_whole(path, value, std::strlen(value))) {
        case WriteEnd::Done: return;
        case WriteEnd::Open: err(2, "open %s", path);
        case WriteEnd::Write: err(2, "write");
        case WriteEnd::Short: errx(2, "partial write");
        case WriteEnd::Close: err(2, "close");
    }
}

// Pairs are checked as their turn comes: earlier attributes stay written.
void write_led_attributes(LedPathBuffer& buffer, std::size_t prefix_length, const AppletArgs& args) {
    write_led_attribute(buffer, prefix_length, "trigger", args.args[2]);
    for (int i = 3; i < args.count; i += 2) {
        const char* name = args.args[i];
        if (std::strchr(name, '/') || std::strcmp(name, "uevent") == 0) errx(1, "invalid parameter name: %s", name);
        write_led_attribute(buffer, prefix_length, name, args.args[i + 1]);
    }
}

}  // namespace

int applet_led(const AppletArgs& args) {
    // Applet name, LED, trigger, then whole name/value pairs.
    if (args.count <= 2 || args.count % 2 == 0) usage(args);
    for (const Led& led : LEDS) {
        if (std::strcmp(args.args[1], led.name) != 0) continue;
        const std::size_t prefix_length = std::strlen(led.directory);
        std::memcpy(led.buffer.path, led.directory, prefix_length);
        write_led_attributes(led.buffer, prefix_length, args);
        return 0;
    }
    usage(args);
}
