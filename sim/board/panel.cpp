// World commands for a unit's front panel: press, hold and release its keys (input events into
// its dev/input/event0 FIFO) and show its OLED screen.
#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "sim/board/args.h"
#include "sim/board/board_inputs.h"
#include "sim/board/command.h"
#include "sim/devices/oled_model.h"

namespace hdext::sim {
namespace {

int key_code(const char* name) {
    if (!std::strcmp(name, "up")) return KEY_UP;
    if (!std::strcmp(name, "down")) return KEY_DOWN;
    if (!std::strcmp(name, "menu")) return KEY_HOME;  // the panel's MENU key reports 102
    return -1;
}

input_event event(uint16_t type, uint16_t code, int32_t value) {
    input_event ev{};
    gettimeofday(&ev.time, nullptr);
    ev.type = type;
    ev.code = code;
    ev.value = value;
    return ev;
}

// Writes a key transition and its report marker. The FIFO is opened without blocking: no
// reader (the unit is not running) is an error, not a hang.
std::string send_events(const std::string& root, const std::vector<input_event>& evs) {
    const std::string fifo = root + "/dev/input/event0";
    mkdir((root + "/dev").c_str(), 0755);
    mkdir((root + "/dev/input").c_str(), 0755);
    if (mkfifo(fifo.c_str(), 0644) != 0 && errno != EEXIST) return "cannot make " + fifo;
    const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "no unit reads " + fifo + " (" + std::strerror(errno) + ")";
    const auto n = static_cast<ssize_t>(evs.size() * sizeof(input_event));
    const bool ok = write(fd, evs.data(), static_cast<size_t>(n)) == n;
    close(fd);
    return ok ? "" : "short write to " + fifo;
}

std::string transition(const std::string& root, int code, int value) {
    return send_events(root, {event(EV_KEY, static_cast<uint16_t>(code), value), event(EV_SYN, SYN_REPORT, 0)});
}

} // namespace

std::string key_event(const std::string& root, const std::string& key, bool pressed) {
    const int code = key_code(key.c_str());
    if (code < 0) return "unknown key " + key + " (up, down, menu)";
    return transition(root, code, pressed ? 1 : 0);
}

namespace {

// The longest press "key press" holds: longer holds are made with hold and release.
constexpr double kLongestPress = 60;

int key(int argc, char** argv) {
    const std::string root = board_root(argc, argv);
    if (root.empty() || argc < 3) {
        std::fprintf(stderr,
                     "%s: give --root DIR (or HDEXT_BOARD_ROOT), press|hold|release, up|down|menu [seconds]\n",
                     argv[0]);
        return 2;
    }
    const std::string action = argv[1];
    const int code = key_code(argv[2]);
    if (action != "press" && action != "hold" && action != "release")
        return bad_argument(argv[0], "unknown action " + action + " (press, hold, release)");
    if (code < 0) return bad_argument(argv[0], std::string("unknown key ") + argv[2] + " (up, down, menu)");
    if (argc > (action == "press" ? 4 : 3))
        return bad_argument(argv[0], "unexpected argument \"" + std::string(argv[argc - 1]) + "\"");
    // A short press, or a press held for the given seconds, then released.
    const auto secs = argc > 3 ? number_arg(argv[3], 0, kLongestPress) : std::optional<double>(0.1);
    if (!secs)
        return bad_argument(argv[0], "a press lasts 0 to 60 seconds, not \"" + std::string(argv[3]) +
                                         "\" (hold and release make longer ones)");
    std::string err;
    if (action == "press") {
        err = transition(root, code, 1);
        if (err.empty()) {
            usleep(static_cast<useconds_t>(*secs * 1e6));
            err = transition(root, code, 0);
        }
    } else {
        err = transition(root, code, action == "hold" ? 1 : 0);
    }
    if (err.empty()) return 0;
    std::fprintf(stderr, "%s: %s\n", argv[0], err.c_str());
    return 1;
}

int screen(int argc, char** argv) {
    const std::string root = board_root(argc, argv);
    if (root.empty()) {
        std::fprintf(stderr, "%s: give --root DIR (or HDEXT_BOARD_ROOT)\n", argv[0]);
        return 2;
    }
    if (argc > 1) return bad_argument(argv[0], "unexpected argument \"" + std::string(argv[1]) + "\"");
    OledPixels px;
    if (!read_oled_pbm(root + "/sim/oled.pbm", &px)) {
        std::fprintf(stderr, "%s: no screen in %s/sim/oled.pbm (no display, or the unit has not drawn yet)\n",
                     argv[0], root.c_str());
        return 1;
    }
    std::printf("%s/sim/oled.png\n%s", root.c_str(), oled_text_art(px).c_str());
    return 0;
}

const CommandRegistration reg_key("key", "[--root DIR] press|hold|release up|down|menu [seconds]", key);
const CommandRegistration reg_screen("screen", "[--root DIR]: the OLED picture's path and the screen as text", screen);

} // namespace
} // namespace hdext::sim
