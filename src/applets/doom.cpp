// doom: run the game on the framebuffer for a time or until a key. The game
// runs in a child tied to us by the parent-death signal; we only wait.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <err.h>
#include <fcntl.h>
#include <limits>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "applets/applets.h"
#include "audit/tool_lines.h"
#include "common/decimal.h"
#include "common/failure.h"
#include "common/sleep.h"
#include "process/tied_child.h"
#include "root/root_context.h"

namespace {

constexpr char GAME_PATH[] = "/usr/games/prboom";
constexpr char FRAMEBUFFER_PATH[] = "/dev/fb0";

// Every digit of any 32-bit resolution, and the terminating zero.
constexpr std::size_t RESOLUTION_TEXT_SIZE = std::numeric_limits<std::uint32_t>::digits10 + 2;
static_assert(sizeof(fb_var_screeninfo::xres) == sizeof(std::uint32_t));

struct ResolutionText {
    char width[RESOLUTION_TEXT_SIZE];
    char height[RESOLUTION_TEXT_SIZE];
};

[[noreturn]] void usage(const AppletArgs& args) {
    std::fprintf(stderr, "usage: %s %s [seconds]\n", args.program, args.args[0]);
    std::exit(1);
}

ResolutionText read_resolution() {
    const int fd = open(FRAMEBUFFER_PATH, O_RDWR | O_CLOEXEC);
    if (fd == -1) err(1, "open");
    fb_var_screeninfo info{};
    if (ioctl(fd, FBIOGET_VSCREENINFO, &info) == -1) err(1, "ioctl");
    if (close(fd) == -1) err(1, "close");

    ResolutionText text{};
    std::snprintf(text.width, sizeof text.width, "%u", info.xres);
    std::snprintf(text.height, sizeof text.height, "%u", info.yres);
    return text;
}

[[noreturn]] void run_game(pid_t parent) {
    // The game may read the caller's terminal: it stays in the caller's session.
    enter_root_context(Session::Caller);
    // The game must never run on as root with nobody waiting for it. Asked
    // only now: the kernel clears the parent-death signal when the group id changes.
    tie_to_parent(parent);
    if (setenv("HOME", "/root", 1) == -1 || setenv("SDL_NOMOUSE", "1", 1) == -1) err(2, "setenv");
    ResolutionText resolution = read_resolution();
    name_tool("%s -width %s -height %s", GAME_PATH, resolution.width, resolution.height);
    audit_running();
    note_failures(audit_not_run);
    char* const argv[] = {const_cast<char*>(GAME_PATH), const_cast<char*>("-width"), resolution.width,
                          const_cast<char*>("-height"), resolution.height, nullptr};
    exec_tool(argv, "execl");
}

}  // namespace

int applet_doom(const AppletArgs& args) {
    if (args.count != 1 && args.count != 2) usage(args);
    long seconds = 0;
    if (args.count == 2) {
        std::optional<long> parsed = parse_whole_decimal(args.args[1]);
        if (!parsed) usage(args);
        seconds = *parsed;
    }

    require_root();

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == -1) err(2, "fork");
    if (pid == 0) run_game(parent);

    // Returning ends the game: the kernel sends it the parent-death signal.
    if (seconds > 0) sleep_whole_seconds(seconds);
    else std::getc(stdin);
    return 0;
}
