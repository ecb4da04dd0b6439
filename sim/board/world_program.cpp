// A unit's program and its stand-in daemons as the world starts, kills and restarts them. The
// program runs in the background inside the unit; its host PID (with its start time, so a
// reused PID is never taken for it) and its command line are kept in the world folder.
#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "sim/board/air_state.h"
#include "sim/board/world.h"
#include "sim/devices/processor.h"

namespace hdext::sim {
namespace {

std::string record_path(const std::string& dir, const std::string& unit, const char* what) {
    return dir + "/pids/" + unit + what;
}

// Field 22 of /proc/PID/stat: when the process started, in clock ticks since boot; "" if gone.
std::string start_time(int pid) {
    std::string line = read_text("/proc/" + std::to_string(pid) + "/stat");
    size_t p = line.rfind(')');
    if (p == std::string::npos) return "";
    std::istringstream in(line.substr(p + 2));
    std::string field;
    for (int i = 3; i <= 22 && in >> field; ++i) {
    }
    return field;
}

// True while pid runs, reaped or not by its parent (the unit's init reaps it).
bool running(int pid) {
    std::string line = read_text("/proc/" + std::to_string(pid) + "/stat");
    size_t p = line.rfind(')');
    return p != std::string::npos && p + 2 < line.size() && line[p + 2] != 'Z' && line[p + 2] != 'X';
}

bool wait_gone(const std::function<bool()>& alive) {
    for (int i = 0; i < 1000 && alive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !alive();
}

void set_env(const std::vector<std::string>& env) {
    for (const auto& kv : env) {
        auto eq = kv.find('=');
        setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
    }
}

// Nothing the starter holds (a panel's sockets, which its HTTP library accepts without
// close-on-exec, a unit's lock) may live on in the program it starts.
void close_inherited_on_exec() {
    if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
    const long max = std::min(sysconf(_SC_OPEN_MAX), 65536L);
    for (int fd = 3; fd < max; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// Execs cmd; when that fails, says why on stderr and, given a report descriptor, sends errno.
[[noreturn]] void exec_argv(std::vector<std::string> cmd, int report_fd = -1) {
    close_inherited_on_exec();
    std::vector<char*> argv;
    for (auto& s : cmd) argv.push_back(s.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    int e = errno;
    std::fprintf(stderr, "%s: %s\n", argv[0], std::strerror(e));
    if (report_fd >= 0 && write(report_fd, &e, sizeof e) < 0) _exit(127);
    _exit(127);
}

// Runs fn in a child process that is a member of the unit's namespaces; its exit status.
int in_unit(const std::string& dir, const std::string& unit, const std::function<int()>& fn) {
    pid_t outer = fork();
    if (outer < 0) return -1;
    if (outer == 0) {
        if (enter_unit(dir, unit) != 0) {
            std::fprintf(stderr, "cannot enter unit %s: %s\n", unit.c_str(), std::strerror(errno));
            _exit(1);
        }
        pid_t inner = fork();
        if (inner == 0) _exit(fn());
        int st = 0;
        if (inner < 0 || waitpid(inner, &st, 0) < 0) _exit(1);
        _exit(WIFEXITED(st) ? WEXITSTATUS(st) : 1);
    }
    int st = 0;
    if (waitpid(outer, &st, 0) < 0) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

struct Daemon {
    const char* name;  // as the program starts it
    const char* pidfile;
    const char* comm;  // the running process's name
    const char* air;   // what the air keeper's state says of it while it runs ("" nothing)
};
constexpr Daemon kDaemons[] = {{"hostapd", "/var/run/hostapd.pid", "hostapd", " ap "},
                               {"wpa_supplicant", "/var/run/wpa_supplicant.pid", "wpa_supplicant", " station "},
                               {"dhcpd", "/var/run/dhcpd.pid", "udhcpd", ""}};

// A stopped or started Wi-Fi daemon is done once the air keeper has seen it go or come.
int air_follows(const std::string& dir, const std::string& unit, const Daemon& d, int rc, bool running) {
    return rc == 0 && *d.air && !air_shows(dir, unit + d.air, running) ? 1 : rc;
}

const Daemon* daemon_named(const std::string& name) {
    for (const auto& d : kDaemons)
        if (name == d.name) return &d;
    return nullptr;
}

// Inside the unit (its PIDs): the daemon's running process, 0 when none runs.
int running_daemon(const std::string& root, const Daemon& d) {
    std::ifstream in(root + d.pidfile);
    int pid = 0;
    if (!(in >> pid) || pid <= 0) return 0;
    const std::string comm = read_text("/proc/" + std::to_string(pid) + "/comm");
    return comm.substr(0, comm.find('\n')) == d.comm && running(pid) ? pid : 0;
}

} // namespace

int program_pid(const std::string& dir, const std::string& unit) {
    std::istringstream in(read_text(record_path(dir, unit, ".prog")));
    int pid = 0;
    std::string started;
    if (!(in >> pid >> started) || pid <= 0 || start_time(pid) != started || !running(pid)) return 0;
    return pid;
}

std::vector<std::string> program_command(const std::string& dir, const std::string& unit) {
    std::vector<std::string> cmd;
    std::istringstream in(read_text(record_path(dir, unit, ".cmd")));
    for (std::string arg; std::getline(in, arg, '\0');) cmd.push_back(arg);
    return cmd;
}

int start_program(const std::string& dir, const std::string& unit, const std::vector<std::string>& cmd) {
    if (cmd.empty()) return -1;
    if (int pid = program_pid(dir, unit)) {
        std::fprintf(stderr, "%s: a program runs already (pid %d)\n", unit.c_str(), pid);
        return -1;
    }
    const std::string log = dir + "/" + unit + ".log";
    const auto env = unit_env(dir, unit);
    // The program's PID from the starter inside the unit, and errno if its exec failed.
    int pid_pipe[2], exec_pipe[2];
    if (pipe2(pid_pipe, O_CLOEXEC) != 0 || pipe2(exec_pipe, O_CLOEXEC) != 0) return -1;
    pid_t outer = fork();
    if (outer < 0) return -1;
    if (outer == 0) {
        close(pid_pipe[0]);
        close(exec_pipe[0]);
        if (enter_unit(dir, unit, cmd[0]) != 0) _exit(1);
        pid_t pid = fork();
        if (pid == 0) {
            own_processor(); // a session of its own, weighed as a unit's processor
            int in = open("/dev/null", O_RDONLY);
            int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(127);
            close(in);
            close(out);
            set_env(env);
            exec_argv(cmd, exec_pipe[1]);
        }
        if (write(pid_pipe[1], &pid, sizeof pid) < 0) _exit(1);
        _exit(pid > 0 ? 0 : 1);
    }
    close(pid_pipe[1]);
    close(exec_pipe[1]);
    pid_t pid = -1;
    int err = 0;
    if (read(pid_pipe[0], &pid, sizeof pid) != sizeof pid) pid = -1;
    if (pid > 0 && read(exec_pipe[0], &err, sizeof err) == sizeof err) pid = -1;
    close(pid_pipe[0]);
    close(exec_pipe[0]);
    waitpid(outer, nullptr, 0);
    if (pid <= 0) {
        std::fprintf(stderr, "%s: cannot start %s: %s\n", unit.c_str(), cmd[0].c_str(),
                     err ? std::strerror(err) : "cannot enter the unit");
        return -1;
    }
    std::string line;
    for (const auto& a : cmd) line += a + '\0';
    std::ofstream(record_path(dir, unit, ".cmd"), std::ios::binary) << line;
    std::ofstream(record_path(dir, unit, ".prog")) << pid << " " << start_time(pid) << "\n";
    return pid;
}

int kill_program(const std::string& dir, const std::string& unit) {
    int pid = program_pid(dir, unit);
    if (pid <= 0) return 0;
    kill(pid, SIGKILL);
    return wait_gone([&] { return running(pid); }) ? pid : -1;
}

int stop_daemon(const std::string& dir, const std::string& unit, const std::string& name) {
    const Daemon* d = daemon_named(name);
    if (!d) return -1;
    const std::string root = dir + "/" + unit;
    // PIDs in the pidfile are the unit's own: the kill is made from inside its PID namespace.
    const int rc = in_unit(dir, unit, [&] {
        const int pid = running_daemon(root, *d);
        if (pid == 0) return 3;
        kill(pid, SIGKILL);
        return wait_gone([&] { return running(pid); }) ? 0 : 1;
    });
    return air_follows(dir, unit, *d, rc, false);
}

int start_daemon(const std::string& dir, const std::string& unit, const std::string& name) {
    const Daemon* d = daemon_named(name);
    if (!d) return -1;
    const std::string root = dir + "/" + unit;
    std::vector<std::string> cmd;
    std::istringstream in(read_text(root + "/var/run/" + name + ".cmd"));
    for (std::string arg; std::getline(in, arg, '\0');) cmd.push_back(arg);
    if (cmd.empty()) return 3;
    const auto env = unit_env(dir, unit);
    const int rc = in_unit(dir, unit, [&] {
        if (running_daemon(root, *d) > 0) return 4;
        set_env(env);
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) dup2(null, 1);
        pid_t pid = fork();
        if (pid == 0) exec_argv(cmd);
        int st = 0;
        if (pid < 0 || waitpid(pid, &st, 0) < 0) return 1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 1;
    });
    return air_follows(dir, unit, *d, rc, true);
}

UnitLock::UnitLock(const std::string& dir, const std::string& unit)
    : m_fd(open(record_path(dir, unit, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    while (m_fd >= 0 && flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

UnitLock::~UnitLock() {
    if (m_fd >= 0) close(m_fd);
}

void record_daemon(const std::string& name, int argc, char** argv) {
    const char* root = std::getenv("HDEXT_BOARD_ROOT");
    if (!root || !*root) return;
    std::string line;
    for (int i = 0; i < argc; ++i) line += std::string(argv[i]) + '\0';
    std::ofstream(std::string(root) + "/var/run/" + name + ".cmd", std::ios::binary) << line;
}

void record_daemon_pid(const std::string& name) {
    const char* root = std::getenv("HDEXT_BOARD_ROOT");
    if (root && *root) std::ofstream(std::string(root) + "/var/run/" + name + ".pid") << getpid() << "\n";
}

} // namespace hdext::sim
