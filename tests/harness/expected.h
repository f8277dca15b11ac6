// What the app says and does that several tests compare with: its usage
// texts and messages, as it prints them when called "app", and the tools it
// runs as root. A text that changes changes here alone.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace expected {

// "app: TEXT\n": a diagnostic as err(3) prints it.
inline std::string said(const std::string& text) { return "app: " + text + "\n"; }

// The same diagnostic from the app called `program`.
inline std::string said_by(const std::string& program, const std::string& diagnostic) {
    return program + diagnostic.substr(3);
}
// The same text as the system logger gets it at `level` ("daemon.err").
inline std::string logged_at(const std::string& level, const std::string& diagnostic) {
    return level + " app[N]: " + diagnostic.substr(5, diagnostic.size() - 6);
}

// The audit login user id the test runs with, which every caller it starts
// keeps: "unset", or the number.
inline std::string audit_login_uid() {
    std::string value;
    std::ifstream("/proc/self/loginuid") >> value;
    return value == "4294967295" ? "unset" : value;
}
// "auid=... ses=..." of such a caller, as the audit line shows it (its
// session number masked as log_lines() masks it).
inline std::string audit_identity() {
    return "auid=" + audit_login_uid() + " ses=" + (audit_login_uid() == "unset" ? "unset" : "N");
}

// The top-level usage for argv[0] `program`.
inline std::string top_usage(const std::string& program) {
    return "usage: " + program +
           " <applet> [<options>]\napplets:\n  doom\n  led\n  poweroff\n  reboot\n  service\n  time\n  watchdog\n";
}
// reboot's and poweroff's.
inline std::string delay_usage(const std::string& applet) { return "usage: app " + applet + " <seconds>\n"; }
inline const std::string LED_USAGE =
    "usage: app led {backlight|beeper|lightpipe} <trigger> [<param1> <value1> [...]]\n";
inline const std::string SERVICE_USAGE =
    "usage: app service {start|stop|restart} <service>\nservices:\n  gen-certs\n  modem\n  nginx\n  ofono\n";
inline const std::string DOOM_USAGE = "usage: app doom [seconds]\n";
inline const std::string TIME_USAGE = "usage: app time <seconds> <nanoseconds>\n";

inline const std::string DELAY_UNPARSED = said("cannot parse seconds");
inline const std::string DELAY_OUT_OF_RANGE = said("seconds outside of [0, 3600] interval");
inline const std::string SECONDS_UNPARSED = said("cannot parse seconds parameter");
inline const std::string NANOSECONDS_UNPARSED = said("cannot parse nanosecond parameter");
inline const std::string NANOSECONDS_OUT_OF_RANGE = said("nanosecond value out of range");
inline const std::string CLOCK_REFUSED = said("failed to set time: Invalid argument");
// Root cannot be had: the set-user-ID bit is missing, or the caller's bounding set lacks it.
inline const std::string NOT_ROOT = said("setuid: Operation not permitted");
// The tool's file is there but not executable.
inline const std::string EXEC_REFUSED = said("execl: Permission denied");
// The device root's /dev/fb0 is a plain file: the screen query fails.
inline const std::string NO_SCREEN = said("ioctl: Inappropriate ioctl for device");
inline const std::string NO_MEMORY = said("out of memory");
inline const std::string NO_CHILDREN = said("no more children, exiting");
inline std::string invalid_name(const std::string& name) { return said("invalid parameter name: " + name); }

// The one environment every tool run as root gets, and the game's.
inline const std::vector<std::string> TOOL_ENVIRONMENT = {"PATH=/usr/bin:/usr/sbin"};
inline const std::vector<std::string> GAME_ENVIRONMENT = {"HOME=/root", "PATH=/usr/bin:/usr/sbin", "SDL_NOMOUSE=1"};

// Every tool the app runs as root: how a caller asks for it (shell words
// after "app"), its path on the device and the stand-in's name there.
struct RootTool {
    std::string applet, path, name;
    bool tied = false;  // the game: ends by SIGTERM when the applet ends
    std::string clock = "";  // the clock call the applet makes first (devroot::Row::clock)
};
inline const std::vector<RootTool> ROOT_TOOLS = {
    {"service start gen-certs", "/app/etc/init.d/S49gen-certs", "S49gen-certs"},
    {"time 1796601600 0", "/usr/sbin/hwclock", "hwclock", false, "set 1796601600 0"},
    {"reboot 0", "/usr/sbin/reboot", "reboot"},
    {"poweroff 0", "/usr/sbin/poweroff", "poweroff"},
    {"doom 3", "/usr/games/prboom", "prboom", true},
};

}  // namespace expected
