// World commands for a unit's USB port: a memory stick (state FIFO dev/detected_usb, the stick's
// files in sim/usb-stick/ for the stand-in mount) and a USB Ethernet adapter with a laptop on it
// (a veth pair between the unit's network namespace and a "laptop" namespace running busybox
// udhcpc, plus the sense line GPIO 26 going low; unplug raises it and takes the laptop away).
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/board/args.h"
#include "sim/board/command.h"
#include "sim/board/world.h"

namespace hdext::sim {
namespace {

namespace fs = std::filesystem;

struct UsbArgs {
    std::string root, what, action, unit, netns, laptop, world, base = kWorldBase;
    bool reset = false;
};

bool parse(int argc, char** argv, UsbArgs* a) {
    bool flag = false;
    for (int i = 1; i < argc; ++i) flag = flag || std::strcmp(argv[i], "--root") == 0;
    if (flag) a->root = board_root(argc, argv);
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (s == "--reset") {
            a->reset = true;
        } else if ((s == "--netns" || s == "--laptop" || s == "--world" || s == "--dir") && i + 1 < argc) {
            (s == "--netns" ? a->netns : s == "--laptop" ? a->laptop : s == "--world" ? a->world : a->base) = argv[++i];
        } else if (a->what.empty()) {
            a->what = s;
        } else if (a->action.empty()) {
            a->action = s;
        } else if (a->unit.empty()) {
            a->unit = s;
        } else {
            return false;
        }
    }
    // A unit of a world: its board root and namespace follow from the world's names.
    if (!a->world.empty() && !a->unit.empty()) {
        if (a->root.empty()) a->root = world_dir(a->base, a->world) + "/" + a->unit;
        if (a->netns.empty()) a->netns = netns_name(a->world, a->unit);
    }
    if (a->root.empty() && a->world.empty() && std::getenv("HDEXT_BOARD_ROOT")) a->root = std::getenv("HDEXT_BOARD_ROOT");
    if (a->netns.empty()) a->netns = a->unit;
    if (a->laptop.empty()) a->laptop = a->netns + "-laptop";
    return !a->root.empty() && !a->what.empty() && !a->action.empty();
}

int fail(const char* fmt, const std::string& arg) {
    std::fprintf(stderr, "usb: ");
    std::fprintf(stderr, fmt, arg.c_str());
    std::fprintf(stderr, "\n");
    return 1;
}

int sh(const std::string& cmd) {
    int st = std::system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : 1;
}

// One 4-byte state to the program's USB state device; refused when no program reads it.
int send_state(const std::string& root, int32_t state) {
    const std::string fifo = root + "/dev/detected_usb";
    int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail("cannot write %s (is the unit running?)", fifo);
    bool ok = ::write(fd, &state, sizeof state) == static_cast<ssize_t>(sizeof state);
    ::close(fd);
    return ok ? 0 : fail("short write to %s", fifo);
}

int stick(const UsbArgs& a) {
    const fs::path dir = fs::path(a.root) / "sim/usb-stick";
    std::error_code ec;
    if (a.action == "insert") {
        fs::remove_all(dir, ec);
        fs::create_directories(dir, ec);
        if (a.reset) std::ofstream(dir / "reset.ini") << "[reset]\n";
        return send_state(a.root, 1);
    }
    if (a.action == "remove") {
        int r = send_state(a.root, 0);
        fs::remove_all(dir, ec);
        return r;
    }
    return 2;
}

void sense_line(const std::string& root, int level) {
    const fs::path value = fs::path(root) / "sys/class/gpio/gpio26/value";
    std::error_code ec;
    fs::create_directories(value.parent_path(), ec);
    std::ofstream(value) << level << "\n";
}

int plug(const UsbArgs& a) {
    if (a.netns.empty()) return fail("give the unit (its network namespace name)%s", "");
    if (!fs::exists("/run/netns/" + a.netns)) return fail("no network namespace %s", a.netns);
    const std::string sim = a.root + "/sim";
    std::error_code ec;
    fs::create_directories(sim, ec);
    if (!fs::exists("/run/netns/" + a.laptop) && sh("ip netns add " + a.laptop) != 0)
        return fail("cannot create namespace %s", a.laptop);
    // A unit has its built-in wired port besides Wi-Fi; the adapter comes on top of both. The
    // built-in port's far end is parked, down, on the laptop's side.
    sh("ip -n " + a.netns + " link show eth0 >/dev/null 2>&1 || ip -n " + a.netns +
       " link add eth0 type veth peer name unit-eth0 netns " + a.laptop);
    if (sh("ip -n " + a.netns + " link add eth1 type veth peer name eth0 netns " + a.laptop) != 0)
        return fail("cannot plug the adapter into %s", a.netns);
    sh("ip -n " + a.laptop + " link set lo up && ip -n " + a.laptop + " link set eth0 up");
    const std::string script = sim + "/laptop-udhcpc.sh";
    std::ofstream(script) << "#!/bin/sh\n"
                             "case \"$1\" in bound|renew)\n"
                             "  ip addr flush dev \"$interface\"\n"
                             "  ip addr add \"$ip/${mask:-24}\" dev \"$interface\"\n"
                             "  echo \"$ip\" > \"" << sim << "/laptop-address\" ;;\n"
                             "esac\n";
    fs::permissions(script, fs::perms::owner_all, ec);
    fs::remove(sim + "/laptop-address", ec);
    sh("ip netns exec " + a.laptop + " busybox udhcpc -f -i eth0 -t 100 -T 1 -A 1 -p " + sim +
       "/laptop-udhcpc.pid -s " + script + " >" + sim + "/laptop-udhcpc.log 2>&1 &");
    sense_line(a.root, 0);
    return 0;
}

int unplug(const UsbArgs& a) {
    sense_line(a.root, 1);
    const std::string pidfile = a.root + "/sim/laptop-udhcpc.pid";
    std::ifstream in(pidfile);
    long pid = 0;
    if (in >> pid && pid > 1) ::kill(static_cast<pid_t>(pid), SIGTERM);
    std::error_code ec;
    fs::remove(pidfile, ec);
    fs::remove(a.root + "/sim/laptop-address", ec);
    if (!a.netns.empty()) sh("ip -n " + a.netns + " link del eth1 2>/dev/null");
    if (fs::exists("/run/netns/" + a.laptop)) sh("ip netns del " + a.laptop);
    return 0;
}

int usb(int argc, char** argv) {
    UsbArgs a;
    if (!parse(argc, argv, &a)) {
        std::fprintf(stderr, "usb: give --root DIR (or HDEXT_BOARD_ROOT), what, action and unit\n");
        return 2;
    }
    if (a.what == "stick" && (a.action == "insert" || a.action == "remove")) return stick(a);
    if (a.what == "ethernet" && a.action == "plug") return plug(a);
    if (a.what == "ethernet" && a.action == "unplug") return unplug(a);
    return bad_argument("usb", "unknown usb command \"" + a.what + " " + a.action +
                                   "\" (stick insert|remove, ethernet plug|unplug)");
}

// Stand-ins of the board's mount and umount: recorded in sim/commands.log; mounting puts the
// inserted stick's files (sim/usb-stick/) at the mount point, unmounting empties it.
int record(int argc, char** argv, std::string* root) {
    const char* r = std::getenv("HDEXT_BOARD_ROOT");
    if (!r || !*r) {
        std::fprintf(stderr, "%s: HDEXT_BOARD_ROOT is not set\n", argv[0]);
        return 1;
    }
    *root = r;
    std::string line = argv[0];
    for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
    std::ofstream(*root + "/sim/commands.log", std::ios::app) << line << "\n";
    return 0;
}

int mount_standin(int argc, char** argv) {
    std::string root;
    if (record(argc, argv, &root) != 0) return 1;
    const fs::path stick = fs::path(root) / "sim/usb-stick";
    std::error_code ec;
    if (argc < 3 || !fs::is_directory(stick, ec)) return 32; // mount's "no medium" status
    fs::create_directories(argv[argc - 1], ec);
    fs::copy(stick, argv[argc - 1], fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    return ec ? 32 : 0;
}

int umount_standin(int argc, char** argv) {
    std::string root;
    if (record(argc, argv, &root) != 0 || argc < 2) return 1;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(argv[argc - 1], ec)) fs::remove_all(e.path(), ec);
    return 0;
}

const CommandRegistration reg_mount("mount", "/dev/sda1 DIR (stand-in: the stick's files at DIR)", mount_standin);
const CommandRegistration reg_umount("umount", "DIR (stand-in: DIR emptied)", umount_standin);

const CommandRegistration reg_usb("usb",
                                  "[--root DIR | --world NAME [--dir BASE]] stick insert|remove UNIT [--reset] | "
                                  "ethernet plug|unplug UNIT [--netns NS] [--laptop NS]",
                                  usb);

} // namespace
} // namespace hdext::sim
