// A program started on a simulated board for one test: output to a file, killed by PID and
// reaped however the test ends.
#pragma once
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace hdext::test {

// Where the build put the programs and where the sources are: HDEXT_BUILD_DIR and
// HDEXT_SOURCE_DIR when set, else the paths the test was built with.
inline std::string build_dir() {
    const char* d = getenv("HDEXT_BUILD_DIR");
    if (d && *d) return d;
#ifdef HDEXT_TEST_BUILD_DIR
    return HDEXT_TEST_BUILD_DIR;
#else
    throw std::runtime_error("HDEXT_BUILD_DIR is not set; run the test with ctest");
#endif
}

// The simulated board's tool, from the build unless HDEXT_BOARD_TOOL names another. A
// ThreadSanitizer build's tool cannot enter a unit (the sanitizer starts a thread in every
// forked child, and a process with threads may not change its mount namespace), so the e2e
// run under ThreadSanitizer takes the tool of another build and the units' programs of its own.
inline std::string board_tool() {
    const char* b = getenv("HDEXT_BOARD_TOOL");
    return b && *b ? b : build_dir() + "/sim/board/hdext-board";
}
inline std::string source_dir() {
    const char* d = getenv("HDEXT_SOURCE_DIR");
    if (d && *d) return d;
#ifdef HDEXT_TEST_SOURCE_DIR
    return HDEXT_TEST_SOURCE_DIR;
#else
    throw std::runtime_error("HDEXT_SOURCE_DIR is not set; run the test with ctest");
#endif
}

// Runs a shell command and returns its standard output; its exit status in *status if given.
inline std::string capture_output(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) out += buf;
    const int st = p ? pclose(p) : -1;
    if (status) *status = st != -1 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

class ChildProcess {
public:
    // Starts program with the given environment additions; stdout and stderr go to out_file.
    // own_network: the program gets an empty network namespace of its own (needs root).
    ChildProcess(const std::string& program, const std::vector<std::string>& env_add,
                 const std::string& out_file, const std::vector<std::string>& args = {},
                 bool own_network = false)
        : m_out(out_file) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        for (const auto& a : env_add) {
            std::string key = a.substr(0, a.find('=') + 1);
            std::erase_if(env, [&](const std::string& s) { return s.rfind(key, 0) == 0; });
            env.push_back(a);
        }
        std::vector<char*> envp;
        for (auto& s : env) envp.push_back(s.data());
        envp.push_back(nullptr);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            FILE* f = freopen(out_file.c_str(), "w", stdout);
            if (!f || dup2(fileno(stdout), STDERR_FILENO) < 0) _exit(127);
            if (own_network && unshare(CLONE_NEWNET) != 0) {
                std::fprintf(stderr, "this test needs root: cannot give the unit a network namespace\n");
                _exit(126);
            }
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        if (m_pid < 0) throw std::runtime_error("fork failed");
    }
    ~ChildProcess() {
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }

    std::string output() const {
        std::ifstream in(m_out, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Waits until the output holds needle or the program ended. A generous hang guard, not a
    // timing requirement.
    bool wait_for_output(const std::string& needle, int guard_s = 120) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(guard_s);
        while (std::chrono::steady_clock::now() < end) {
            if (output().find(needle) != std::string::npos) return true;
            if (!running()) return output().find(needle) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // True while the process has not ended (reaps it when it has).
    bool running() {
        if (m_reaped) return false;
        int st = 0;
        pid_t r = waitpid(m_pid, &st, WNOHANG);
        if (r == m_pid) {
            m_reaped = true;
            m_status = st;
            return false;
        }
        return true;
    }

    // Waits for the end; the wait status.
    int wait_exit(int guard_s = 120) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(guard_s);
        while (running() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return m_status;
    }

    // Waits until no signal is pending for the process any more (it has been handled).
    bool wait_signals_handled(int guard_s = 60) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(guard_s);
        while (std::chrono::steady_clock::now() < end) {
            if (!pending(m_pid)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    static bool pending(pid_t pid) {
        // The process-wide set and every thread's own set.
        std::ifstream st("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(st, line)) {
            if ((line.rfind("ShdPnd:", 0) == 0 || line.rfind("SigPnd:", 0) == 0) &&
                line.find_first_not_of("0\t ", 7) != std::string::npos)
                return true;
        }
        return false;
    }

    std::string m_out;
    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_status = -1;
};

// A unit's program on a simulated board: the stand-ins in bin first on PATH, output to
// out_file, and a network namespace of its own, so nothing the unit configures (addresses,
// daemons, sockets on wlan0) reaches the host's network.
inline std::unique_ptr<ChildProcess> launch_unit(const std::string& program, const std::string& root,
                                                 const std::string& bin, const std::string& out_file) {
    std::string path = std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
    return std::make_unique<ChildProcess>(build_dir() + "/src/" + program,
                                          std::vector<std::string>{"HDEXT_BOARD_ROOT=" + root, "PATH=" + bin + ":" + path},
                                          out_file, std::vector<std::string>{}, true);
}

} // namespace hdext::test
