// A simulated kit driven from outside, for the e2e tests and the relink soak: a world brought up
// under a unique name owned by this process (taken down however the process ends), its units'
// programs started and faulted through hdext-board, and what an observer reads: the air's
// state, each RX's HDMI output status, each program's log lines and resources.
#pragma once
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"
#include "support/wait.h"

namespace hdext::test {

inline std::string read_file(const std::string& p) {
    std::ifstream in(p);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Polls until pred holds, at the pace of the e2e tests; the guard only stops a hang.
template <class P>
bool wait_until(P pred, std::chrono::seconds guard = std::chrono::seconds(120),
                std::chrono::milliseconds poll = std::chrono::milliseconds(50)) {
    return eventually(pred, guard, poll);
}

// Lines of text holding needle. Logs are counted line by line, never searched with a regular
// expression (backtracking over a long log overflows the stack).
inline size_t count_lines(std::string_view text, std::string_view needle) {
    size_t n = 0;
    for (size_t b = 0; b < text.size();) {
        size_t e = text.find('\n', b);
        if (e == std::string_view::npos) e = text.size();
        if (text.substr(b, e - b).find(needle) != std::string_view::npos) ++n;
        b = e + 1;
    }
    return n;
}

// The value of the first "key=value" line of text ("" when there is none).
inline std::string value_of(std::string_view text, std::string_view key) {
    for (size_t b = 0; b < text.size();) {
        size_t e = text.find('\n', b);
        if (e == std::string_view::npos) e = text.size();
        std::string_view line = text.substr(b, e - b);
        if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == '=')
            return std::string(line.substr(key.size() + 1));
        b = e + 1;
    }
    return "";
}

// The last lines of a log, for a failure message.
inline std::string tail(const std::string& text, size_t lines = 40) {
    size_t p = text.size();
    for (size_t n = 0; p > 0 && n <= lines; --p)
        if (text[p - 1] == '\n') ++n;
    return text.substr(p);
}

// What a unit's program holds (hdext-board world stats).
struct UnitStats {
    int pid = 0, fds = 0, threads = 0;
    long rss_kb = 0;
    std::map<std::string, std::string> pools;  // name -> "used/total"
};

struct World {
    std::string name, board, dir;
    std::vector<std::string> rx;

    // `world up NAME --rx N`, owned by this process. "" when it is up, else what went wrong.
    std::string up(const std::string& world_name, size_t rx_count) {
        if (geteuid() != 0) return "the simulated air needs root (network, PID and mount namespaces)";
        name = world_name;
        board = board_tool();
        for (size_t i = 1; i <= rx_count; ++i) rx.push_back("rx" + std::to_string(i));
        dir = capture_output(cmd_line("world up " + name + " --rx " + std::to_string(rx_count) + " --owner " +
                                      std::to_string(getpid())));
        while (!dir.empty() && dir.back() == '\n') dir.pop_back();
        return std::filesystem::exists(dir + "/world.conf") ? "" : "world up failed: " + dir;
    }
    // Takes everything down; false when anything of the world is left behind.
    bool down() {
        capture_output(cmd_line("world down " + name));
        return !std::filesystem::exists(dir) &&
               capture_output("ip netns list").find("hdx-" + name + "-") == std::string::npos;
    }
    // Runs `hdext-board ARGS` and returns what it printed (stdout and stderr); status set.
    std::string cmd(const std::string& args, int* status = nullptr) const {
        return capture_output(cmd_line(args), status);
    }
    // `world start` of a program from the build (the unit's log is <world>/<unit>.log).
    bool start(const std::string& unit, const std::string& program = "src/hdext") const {
        return succeeds("world start " + name + " " + unit + " -- " + build_dir() + "/" + program);
    }
    // `world fault NAME UNIT WHAT...`: true once the fault is made.
    bool fault(const std::string& unit, const std::string& what) const {
        return succeeds("world fault " + name + " " + unit + " " + what);
    }
    std::string log(const std::string& unit) const { return read_file(dir + "/" + unit + ".log"); }
    // The unit's process list (ps inside the unit).
    std::string ps(const std::string& unit) const { return cmd("world run " + name + " " + unit + " -- ps"); }
    // Bytes the unit's wlan0 has received (way "rx") or sent ("tx") so far; 0 when unknown.
    uint64_t air_bytes(const std::string& unit, const std::string& way) const {
        return std::strtoull(capture_output("ip netns exec hdx-" + name + "-" + unit +
                                            " cat /sys/class/net/wlan0/statistics/" + way + "_bytes 2>/dev/null")
                                 .c_str(),
                             nullptr, 10);
    }
    std::string air() const { return read_file(dir + "/air/state"); }
    std::string ssid() const { return value_of(read_file(dir + "/tx/userdata/wifi.ini"), "ssid"); }
    // The TX's access point runs with its final network name.
    bool ap_up() const {
        const std::string s = ssid();
        return !s.empty() && air().find("tx ap ssid=" + s + " ") != std::string::npos;
    }
    // Waits for the TX's access point, then gives every RX the TX's network (as after pairing)
    // and its status pictures, and starts them together.
    bool start_receivers() const {
        if (!wait_until([&] { return ap_up(); }, std::chrono::seconds(180), std::chrono::milliseconds(100))) return false;
        bool started = true;
        for (const auto& u : rx) {
            std::filesystem::copy_file(dir + "/tx/userdata/wifi.ini", dir + "/" + u + "/userdata/wifi.ini",
                                       std::filesystem::copy_options::overwrite_existing);
            capture_output("bash " + source_dir() + "/scripts/install-res.sh " + dir + "/" + u);
            started = start(u) && started;
        }
        return started;
    }
    bool plug(const std::string& source) const { return cmd("hdmi --root " + dir + "/tx " + source).empty(); }

    // One value of an RX's HDMI output status ("" when missing).
    std::string status(const std::string& unit, const std::string& key) const {
        return value_of(read_file(dir + "/" + unit + "/sim/hdmi-out/status"), key);
    }
    long shown(const std::string& unit) const { return std::atol(status(unit, "frames_shown").c_str()); }
    std::map<std::string, long> shown_now() const {
        std::map<std::string, long> c;
        for (const auto& u : rx) c[u] = shown(u);
        return c;
    }
    // The RX shows live video: a second of frames beyond its count `from`, or a count started
    // anew (a new output or process) since. A few frames left in its buffers do not count.
    bool showing(const std::string& unit, long from) const {
        const std::string text = read_file(dir + "/" + unit + "/sim/hdmi-out/status");
        const long n = std::atol(value_of(text, "frames_shown").c_str());
        return value_of(text, "source") == "video" && n > 0 && (n < from || n >= from + 60);
    }
    bool all_showing(const std::map<std::string, long>& from = {}) const {
        for (const auto& u : rx)
            if (!showing(u, from.count(u) ? from.at(u) : 0)) return false;
        return true;
    }

    UnitStats stats(const std::string& unit) const {
        UnitStats s;
        std::istringstream in(cmd("world stats " + name + " " + unit));
        std::string word;
        in >> word;  // the unit
        while (in >> word) {
            const auto eq = word.find('=');
            const std::string k = word.substr(0, eq), v = word.substr(eq + 1);
            if (k == "pid") s.pid = std::stoi(v);
            else if (k == "fds") s.fds = std::stoi(v);
            else if (k == "threads") s.threads = std::stoi(v);
            else if (k == "rss_kb") s.rss_kb = std::stol(v);
            else s.pools[k] = v;
        }
        return s;
    }

private:
    std::string cmd_line(const std::string& args) const { return board + " " + args + " 2>&1"; }
    bool succeeds(const std::string& args) const {
        int st = -1;
        cmd(args, &st);
        return st == 0;
    }
};

} // namespace hdext::test
