// Building and removing worlds: board roots, namespaces, the units' init processes.
#include "sim/board/world.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sim/board/air_state.h"

namespace hdext::sim {
namespace fs = std::filesystem;

namespace {

constexpr const char* kAllUnits[] = {"tx", "rx1", "rx2", "rx3"};
constexpr const char* kBoardStandins[] = {"hostapd", "hostapd_cli", "wpa_supplicant", "iwlist",
                                          "iwconfig", "dhcpd", "insmod", "mount", "umount", "reboot",
                                          "i2cget", "i2cset"};
constexpr const char* kBusyboxApplets[] = {"ifconfig", "route", "ps", "killall"};
constexpr const char* kBusybox = "/bin/busybox";

std::string self_exe() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    buf[n] = '\0';
    return buf;
}

void put(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

int read_pid(const std::string& path) {
    std::ifstream in(path);
    int pid = 0;
    in >> pid;
    return pid;
}

bool alive(int pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

void null_stdio(const std::string& log) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(log.empty() ? "/dev/null" : log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in >= 0) dup2(in, 0);
    if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
    }
}

// The entry of the host's /tmp that holds path ("/tmp/a" for "/tmp/a/b/c"), "" when path is
// not under /tmp.
std::string tmp_entry(const std::string& path) {
    const fs::path p = fs::path(path).lexically_normal();
    auto it = p.begin();
    if (p.is_absolute() && ++it != p.end() && *it == "tmp" && ++it != p.end()) return "/tmp/" + it->string();
    return "";
}

// A copy of a host tree under /tmp, taken before a private /tmp covers it.
struct TmpTree {
    std::string path;
    int fd;
};

std::vector<TmpTree> clone_tmp_trees(const std::vector<std::string>& paths) {
    std::vector<TmpTree> trees;
    for (const auto& p : paths) {
        const std::string entry = tmp_entry(p);
        if (entry.empty() || std::any_of(trees.begin(), trees.end(), [&](const TmpTree& t) { return t.path == entry; }))
            continue;
        int fd = open_tree(AT_FDCWD, entry.c_str(), OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | AT_RECURSIVE);
        if (fd >= 0) trees.push_back({entry, fd});
    }
    return trees;
}

// Puts each tree at its own path in the current mount namespace where nothing is there yet.
void attach_tmp_trees(std::vector<TmpTree>& trees) {
    for (auto& t : trees) {
        struct stat st {};
        if (stat(t.path.c_str(), &st) != 0 && fstat(t.fd, &st) == 0) {
            if (S_ISDIR(st.st_mode))
                mkdir(t.path.c_str(), 0755);
            else
                close(open(t.path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
            move_mount(t.fd, "", AT_FDCWD, t.path.c_str(), MOVE_MOUNT_F_EMPTY_PATH);
        }
        close(t.fd);
    }
    trees.clear();
}

// PID 1 of a unit: private mounts (/proc of the unit, its own /sys and /tmp), then reaps
// whatever is orphaned inside the unit until the world is taken down. What the unit must see
// of the host's /tmp (the world folder, the board tool) stays in place on the private /tmp.
[[noreturn]] void unit_init(int ready_fd, const std::vector<std::string>& keep) {
    prctl(PR_SET_NAME, "hdext-unit-init");
    bool ok = mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    auto trees = clone_tmp_trees(keep);
    ok = ok && mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0 &&
         mount("sysfs", "/sys", "sysfs", 0, nullptr) == 0 &&
         mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") == 0;
    attach_tmp_trees(trees);
    char c = ok ? '1' : '0';
    if (write(ready_fd, &c, 1) < 0) _exit(1);
    close(ready_fd);
    if (!ok) _exit(1);
    sigset_t chld, none;
    sigemptyset(&chld);
    sigemptyset(&none);
    sigaddset(&chld, SIGCHLD);
    sigprocmask(SIG_BLOCK, &chld, nullptr);
    signal(SIGCHLD, [](int) {});
    for (;;) {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        sigsuspend(&none);
    }
}

// Starts a unit's init in the unit's network namespace and fresh PID and mount namespaces.
int start_unit_init(const std::string& ns, const std::string& log, const std::vector<std::string>& keep) {
    int pid_pipe[2], ready_pipe[2];
    if (pipe(pid_pipe) != 0 || pipe(ready_pipe) != 0) return -1;
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        close(pid_pipe[0]);
        close(ready_pipe[0]);
        setsid();
        null_stdio(log);
        int nsfd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (nsfd < 0 || setns(nsfd, CLONE_NEWNET) != 0 || unshare(CLONE_NEWNS | CLONE_NEWPID) != 0)
            _exit(1);
        pid_t init = fork();
        if (init == 0) {
            close(pid_pipe[1]);
            unit_init(ready_pipe[1], keep);
        }
        if (write(pid_pipe[1], &init, sizeof init) < 0) _exit(1);
        _exit(init > 0 ? 0 : 1);
    }
    close(pid_pipe[1]);
    close(ready_pipe[1]);
    pid_t init = -1;
    char ready = '0';
    if (read(pid_pipe[0], &init, sizeof init) != sizeof init) init = -1;
    if (init > 0 && read(ready_pipe[0], &ready, 1) != 1) ready = '0';
    close(pid_pipe[0]);
    close(ready_pipe[0]);
    waitpid(child, nullptr, 0);
    return init > 0 && ready == '1' ? init : -1;
}

std::string unit_mac(const std::string& world, size_t index) {
    unsigned h = 2166136261u;
    for (char c : world) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    char mac[32];
    std::snprintf(mac, sizeof mac, "02:5e:%02x:%02x:%02x:%02x", (h >> 16) & 0xFF, (h >> 8) & 0xFF,
                  h & 0xFF, static_cast<unsigned>(index + 1));
    return mac;
}

// The receivers' status pictures, which the build puts beside the tool (res/*.jpg), as on a
// unit's firmware. The number installed.
int install_status_pictures(const std::string& root, const std::string& exe) {
    std::error_code ec;
    fs::create_directories(root + "/home/res", ec);
    int n = 0;
    for (const auto& e : fs::directory_iterator(fs::path(exe).parent_path() / "res", ec))
        if (e.path().extension() == ".jpg" &&
            fs::copy_file(e.path(), root + "/home/res/" + e.path().filename().string(),
                          fs::copy_options::overwrite_existing, ec))
            ++n;
    return n;
}

int make_board(const World& w, const std::string& unit, size_t index, const std::string& exe) {
    const std::string root = w.dir + "/" + unit;
    for (const char* d : {"userdata", "etc/Wireless", "sim/bin", "dev/input", "var/run", "tmp", "mnt"})
        fs::create_directories(root + "/" + d);
    put(root + "/sim/hdmi-in", "none\n");
    put(root + "/sim/sdi-in", "none\n");
    put(root + "/sim/link-quality", "70\n");
    // The unit's notification and input FIFOs (HDMI receiver, front-panel keys, USB stick).
    for (const char* f : {"/dev/lt6911", "/dev/input/event0", "/dev/detected_usb"})
        if (mkfifo((root + f).c_str(), 0644) != 0 && errno != EEXIST) return -1;
    if (unit == "tx") fs::create_directories(root + "/home/tx");
    // A receiver's USB port starts empty (sense line high).
    if (unit != "tx") {
        put(root + "/sys/class/gpio/gpio26/value", "1\n");
        put(root + "/sys/class/gpio/gpio26/direction", "in\n");
        put(root + "/sys/class/gpio/gpio26/edge", "both\n");
        if (install_status_pictures(root, exe) == 0)
            std::fprintf(stderr, "world up: no status pictures in %s/res: %s cannot show them\n",
                         fs::path(exe).parent_path().c_str(), unit.c_str());
    }
    std::error_code ec;
    for (const char* s : kBoardStandins) fs::create_symlink(exe, root + "/sim/bin/" + s, ec);
    for (const char* s : kBusyboxApplets) fs::create_symlink(kBusybox, root + "/sim/bin/" + s, ec);
    const std::string ns = netns_name(w.name, unit), air = netns_name(w.name, "air");
    const std::string peer = "p-" + unit, mac = unit_mac(w.name, index);
    put(root + "/sys/class/net/wlan0/address", mac + "\n");
    if (run({"ip", "netns", "add", ns}) != 0 || run({"ip", "-n", ns, "link", "set", "lo", "up"}) != 0 ||
        run({"ip", "-n", air, "link", "add", peer, "type", "veth", "peer", "name", "wlan0", "netns", ns}) != 0 ||
        run({"ip", "-n", ns, "link", "set", "wlan0", "address", mac}) != 0 ||
        run({"ip", "-n", air, "link", "set", peer, "up"}) != 0)
        return -1;
    int init = start_unit_init(ns, w.dir + "/pids/" + unit + ".log", {fs::absolute(w.dir, ec).string(), exe});
    if (init < 0) return -1;
    put(w.dir + "/pids/" + unit + ".init", std::to_string(init) + "\n");
    return 0;
}

int start_air_keeper(const World& w, int owner_pid) {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        setsid();
        null_stdio(w.dir + "/air/keeper.log");
        int nsfd = open(("/run/netns/" + netns_name(w.name, "air")).c_str(), O_RDONLY | O_CLOEXEC);
        if (nsfd < 0 || setns(nsfd, CLONE_NEWNET) != 0) _exit(1);
        _exit(run_air_keeper(w.dir, owner_pid));
    }
    put(w.dir + "/pids/air.keeper", std::to_string(pid) + "\n");
    return 0;
}

} // namespace

std::string world_dir(const std::string& base, const std::string& name) { return base + "/" + name; }

std::string netns_name(const std::string& world, const std::string& unit) {
    return "hdx-" + world + "-" + unit;
}

int run(const std::vector<std::string>& argv) {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        int out = open("/dev/null", O_WRONLY);
        if (out >= 0) dup2(out, 1);
        std::vector<char*> a;
        for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
        a.push_back(nullptr);
        execvp(a[0], a.data());
        _exit(127);
    }
    int st = 0;
    if (waitpid(pid, &st, 0) < 0) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

int world_up(const World& w, int owner_pid) {
    if (fs::exists(w.dir)) {
        std::fprintf(stderr, "world up: %s exists (world names must be unique)\n", w.dir.c_str());
        return -1;
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "world up: needs root (network, PID and mount namespaces)\n");
        return -1;
    }
    const std::string exe = self_exe();
    fs::create_directories(w.dir + "/air");
    fs::create_directories(w.dir + "/pids");
    std::string units;
    for (const auto& u : w.units) units += (units.empty() ? "" : " ") + u;
    put(w.dir + "/world.conf", "name=" + w.name + "\nunits=" + units + "\n");
    put(w.dir + "/neighbours", "");
    const std::string air = netns_name(w.name, "air");
    if (run({"ip", "netns", "add", air}) != 0 || run({"ip", "-n", air, "link", "set", "lo", "up"}) != 0) {
        std::fprintf(stderr, "world up: cannot create namespace %s\n", air.c_str());
        return -1;
    }
    for (size_t i = 0; i < w.units.size(); ++i) {
        if (make_board(w, w.units[i], i, exe) != 0) {
            std::fprintf(stderr, "world up: cannot build unit %s\n", w.units[i].c_str());
            return -1;
        }
    }
    return start_air_keeper(w, owner_pid);
}

namespace {

// Kills every process in a named network namespace and waits until they are gone.
void end_netns_processes(const std::string& ns) {
    std::vector<int> pids;
    if (FILE* p = popen(("ip netns pids " + ns + " 2>/dev/null").c_str(), "r")) {
        int pid = 0;
        while (std::fscanf(p, "%d", &pid) == 1) pids.push_back(pid);
        pclose(p);
    }
    for (int pid : pids) kill(pid, SIGKILL);
    for (int i = 0; i < 300; ++i) {
        bool any = false;
        for (int pid : pids) any = any || alive(pid);
        if (!any) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

int world_down(const std::string& base, const std::string& name) {
    const std::string dir = world_dir(base, name);
    std::vector<int> pids;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir + "/pids", ec)) {
        const std::string f = e.path().filename().string();
        if (f.ends_with(".init") || f.ends_with(".keeper")) {
            int pid = read_pid(e.path().string());
            if (pid > 0 && pid != getpid()) pids.push_back(pid);
        }
    }
    for (int pid : pids) kill(pid, SIGKILL);
    for (int i = 0; i < 300; ++i) {
        bool any = false;
        for (int pid : pids) {
            waitpid(pid, nullptr, WNOHANG);
            any = any || alive(pid);
        }
        if (!any) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    int rc = 0;
    // A laptop plugged into a unit's USB Ethernet port has a namespace of its own beside the
    // unit, with its DHCP client in it: both go with the world.
    for (const char* u : kAllUnits) {
        const std::string laptop = netns_name(name, u) + "-laptop";
        if (!fs::exists("/run/netns/" + laptop)) continue;
        end_netns_processes(laptop);
        if (run({"ip", "netns", "del", laptop}) != 0) rc = -1;
    }
    for (const char* u : kAllUnits)
        if (fs::exists("/run/netns/" + netns_name(name, u)) && run({"ip", "netns", "del", netns_name(name, u)}) != 0)
            rc = -1;
    const std::string air = netns_name(name, "air");
    if (fs::exists("/run/netns/" + air) && run({"ip", "netns", "del", air}) != 0) rc = -1;
    fs::remove_all(dir, ec);
    if (ec) rc = -1;
    return rc;
}

int enter_unit(const std::string& world_dir, const std::string& unit, const std::string& program) {
    int pid = read_pid(world_dir + "/pids/" + unit + ".init");
    if (!alive(pid)) {
        errno = ESRCH;
        return -1;
    }
    // The program as named and as its links resolve.
    std::vector<std::string> visible;
    std::error_code ec;
    if (program.find('/') != std::string::npos)
        visible = {fs::absolute(program, ec).string(), fs::weakly_canonical(program, ec).string()};
    auto trees = clone_tmp_trees(visible);
    const std::string p = "/proc/" + std::to_string(pid) + "/ns/";
    int net = open((p + "net").c_str(), O_RDONLY | O_CLOEXEC);
    int pidns = open((p + "pid").c_str(), O_RDONLY | O_CLOEXEC);
    int mnt = open((p + "mnt").c_str(), O_RDONLY | O_CLOEXEC);
    int rc = -1;
    if (net >= 0 && pidns >= 0 && mnt >= 0 && setns(net, CLONE_NEWNET) == 0 &&
        setns(pidns, CLONE_NEWPID) == 0 && setns(mnt, CLONE_NEWNS) == 0 && chdir("/") == 0)
        rc = 0;
    if (rc == 0) attach_tmp_trees(trees);
    for (auto& t : trees) close(t.fd);
    for (int fd : {net, pidns, mnt})
        if (fd >= 0) close(fd);
    return rc;
}

std::vector<std::string> unit_env(const std::string& world_dir, const std::string& unit) {
    const std::string root = world_dir + "/" + unit;
    const char* path = std::getenv("PATH");
    return {"HDEXT_BOARD_ROOT=" + root, "PATH=" + root + "/sim/bin:" + (path ? path : "/usr/bin:/bin")};
}

bool own_unit(std::string* world_dir, std::string* unit) {
    const char* root = std::getenv("HDEXT_BOARD_ROOT");
    if (!root || !*root) return false;
    fs::path r = fs::path(root).lexically_normal();
    if (r.filename().empty()) r = r.parent_path();
    if (!fs::exists(r.parent_path() / "world.conf")) return false;
    *world_dir = r.parent_path().string();
    *unit = r.filename().string();
    return true;
}

} // namespace hdext::sim
