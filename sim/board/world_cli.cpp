// "hdext-board world ...": build, use and remove simulated kits.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/board/air_state.h"
#include "sim/board/args.h"
#include "sim/board/command.h"
#include "sim/board/kit_report.h"
#include "sim/board/unit_probe.h"
#include "sim/board/web_panel.h"
#include "sim/board/world.h"
#include "sim/devices/processor.h"

// "world run" ends outside the /proc it can see (it entered a unit's mount namespace but not
// its PID namespace), where the leak checker cannot stop the process to scan it and spins.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace hdext::sim {
namespace {
namespace fs = std::filesystem;

// Each verb: its arguments before any "--" (the verb and NAME included) and its usage line.
struct Verb {
    const char* name;
    size_t min_args, max_args;
    const char* synopsis;
};
constexpr Verb kVerbs[] = {
    {"up", 2, 2, "up NAME [--rx N] [--dir BASE] [--owner PID]"},
    {"down", 2, 2, "down NAME [--dir BASE]"},
    {"run", 3, 3, "run NAME UNIT [--dir BASE] -- COMMAND [ARGS]"},
    {"start", 3, 3, "start NAME UNIT [--dir BASE] -- COMMAND [ARGS]"},
    {"pair", 3, 3, "pair NAME UNIT [--dir BASE]"},
    {"fault", 4, 6,
     "fault NAME UNIT [--dir BASE] cut|restore|drop PERCENT|rate KBIT|kill|restart|daemon stop|start hostapd|wpa_supplicant|dhcpd"},
    {"stats", 2, 3, "stats NAME [UNIT] [--dir BASE]"},
    {"status", 2, 2, "status NAME [--dir BASE]"},
    {"report", 2, 2, "report NAME [--dir BASE] [--seconds N] [--deadline S] [--out DIR]"},
    {"panel", 2, 2, "panel NAME [--dir BASE] [--port P] [--bind ADDR]"},
    {"neighbour", 3, 4, "neighbour NAME CHANNEL [SSID] [--dir BASE]"},
};

// How long "world pair" waits for the TX's access point, and for anything to run on the TX.
constexpr auto kPairWait = std::chrono::seconds(60);
constexpr auto kTxIdle = std::chrono::seconds(5);

// Channels a neighbour network can be heard on: 2.4 GHz 1-14 and the 5 GHz channels.
bool wifi_channel(long c) {
    static const std::set<long> five{36, 40, 44, 48, 52, 56, 60, 64, 100, 104, 108, 112,
                                     116, 120, 124, 128, 132, 136, 140, 149, 153, 157, 161, 165};
    return (c >= 1 && c <= 14) || five.count(c);
}

// Options taken out of the arguments; a missing value is remembered as the error.
struct Options {
    std::vector<std::string>& args;
    std::string error;
    std::string take(const std::string& key, const std::string& def) {
        for (size_t i = 0; i < args.size(); ++i) {
            if (args[i] != key) continue;
            const auto at = args.begin() + static_cast<long>(i);
            if (i + 1 == args.size()) {
                error = key + " needs a value";
                args.erase(at);
                return def;
            }
            std::string v = args[i + 1];
            args.erase(at, at + 2);
            return v;
        }
        return def;
    }
};

int usage() {
    const char* lead = "usage:";
    for (const auto& v : kVerbs) {
        std::fprintf(stderr, "%s hdext-board world %s\n", lead, v.synopsis);
        lead = "      ";
    }
    return 2;
}

std::string joined(const std::vector<std::string>& words) {
    std::string s;
    for (const auto& w : words) s += (s.empty() ? "" : " ") + w;
    return s;
}

// One line on stdout for a fault that was made, one on stderr for one that was not.
int said(bool ok, const std::string& unit, const std::string& what) {
    std::fprintf(ok ? stdout : stderr, "%s: %s\n", unit.c_str(), what.c_str());
    return ok ? 0 : 1;
}

pid_t g_child = -1;

int run_in_unit(const std::string& dir, const std::string& unit, std::vector<std::string> cmd) {
    if (enter_unit(dir, unit, cmd[0]) != 0) {
        std::fprintf(stderr, "world run: cannot enter unit %s of %s: %s\n", unit.c_str(), dir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    const auto env = unit_env(dir, unit);
    g_child = fork();
    if (g_child < 0) return 1;
    if (g_child == 0) {
        // The unit's program ends with whoever started it (a test killed by PID, a script).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        own_processor();
        for (const auto& kv : env) {
            auto eq = kv.find('=');
            setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
        }
        std::vector<char*> argv;
        for (auto& s : cmd) argv.push_back(s.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "world run: %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    // A unit's program ignores these signals, as on a board: Ctrl-C still ends it, 2 s later.
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        signal(s, [](int sig) {
            kill(g_child, sig);
            alarm(2);
        });
    signal(SIGALRM, [](int) { kill(g_child, SIGKILL); });
    int st = 0;
    while (waitpid(g_child, &st, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

// A program named by a relative path is the caller's, not one under the unit's "/".
std::string caller_path(const std::string& program) {
    if (program.find('/') == std::string::npos || program[0] == '/') return program;
    std::error_code ec;
    const fs::path p = fs::absolute(program, ec);
    return ec ? program : p.string();
}

// Each unit's lines of the air (ap, station, cut; "off the air" when it has none), then the
// neighbour networks scans see.
std::string air_status(const std::string& dir, const std::vector<std::string>& units) {
    const std::string air = read_text(dir + "/air/state");
    std::string out;
    for (const auto& u : units) {
        std::string mine;
        std::istringstream in(air);
        for (std::string line; std::getline(in, line);)
            if (line.starts_with(u + " ")) mine += line + "\n";
        out += mine.empty() ? u + " off the air\n" : mine;
    }
    std::istringstream in(read_text(dir + "/neighbours"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string channel, ssid;
        if (words >> channel >> ssid) out += "neighbour channel=" + channel + " ssid=" + ssid + "\n";
    }
    return out;
}

// The TX's access point runs with the network its settings file holds (its final one).
bool tx_ap_up(const std::string& dir) {
    const std::string ssid = value_of(read_text(dir + "/tx/userdata/wifi.ini"), "ssid");
    return !ssid.empty() && ("\n" + read_text(dir + "/air/state")).find("\ntx ap ssid=" + ssid + " ") != std::string::npos;
}

// What pairing leaves on a receiver, done from outside: the TX's network in its settings.
int pair_unit(const std::string& dir, const std::string& unit) {
    if (unit == "tx") return bad_argument("world pair", "tx is the transmitter; pair a receiver with it");
    if (int pid = look_at(dir, unit).pid)
        return said(false, unit, "its program runs (pid " + std::to_string(pid) + "); pair it before it starts");
    const auto start = std::chrono::steady_clock::now();
    auto last_busy = start;
    while (!tx_ap_up(dir)) {
        const auto now = std::chrono::steady_clock::now();
        if (!unit_processes(dir, "tx").empty()) last_busy = now;
        if (now - last_busy > kTxIdle) return said(false, unit, "the TX runs no program; start it first");
        if (now - start > kPairWait) return said(false, unit, "the TX's access point did not come up within 60 s");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::error_code ec;
    fs::copy_file(dir + "/tx/userdata/wifi.ini", dir + "/" + unit + "/userdata/wifi.ini",
                  fs::copy_options::overwrite_existing, ec);
    if (ec) return said(false, unit, "cannot write its settings: " + ec.message());
    return said(true, unit, "paired with the TX's network " + value_of(read_text(dir + "/tx/userdata/wifi.ini"), "ssid"));
}

int world(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> cmd;
    bool has_cmd = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--") continue;
        cmd.assign(args.begin() + static_cast<long>(i) + 1, args.end());
        args.resize(i);
        has_cmd = true;
        break;
    }
    if (args.empty()) return usage();
    const std::string verb = args[0], what = "world " + verb;
    const Verb* v = nullptr;
    for (const auto& k : kVerbs)
        if (verb == k.name) v = &k;
    if (!v)
        return bad_argument("world", "unknown command \"" + verb +
                                         "\" (up, down, run, start, pair, fault, stats, status, report, panel, neighbour)");
    Options opt{args, ""};
    const std::string base = opt.take("--dir", kWorldBase);
    const std::string rx_s = verb == "up" ? opt.take("--rx", "1") : "";
    const std::string owner_s = verb == "up" ? opt.take("--owner", "0") : "";
    const std::string seconds_s = verb == "report" ? opt.take("--seconds", "20") : "";
    const std::string deadline_s = verb == "report" ? opt.take("--deadline", "120") : "";
    const std::string out_dir = verb == "report" ? opt.take("--out", "") : "";
    const std::string port_s = verb == "panel" ? opt.take("--port", "8470") : "";
    const std::string bind = verb == "panel" ? opt.take("--bind", "127.0.0.1") : "";
    if (!opt.error.empty()) return bad_argument(what, opt.error);
    const bool wants_cmd = verb == "run" || verb == "start";
    if (args.size() < v->min_args || args.size() > v->max_args || wants_cmd != has_cmd || (has_cmd && cmd.empty()))
        return bad_argument(what, std::string("usage: hdext-board world ") + v->synopsis);
    const std::string name = args[1];
    // The name makes a folder that "down" removes and namespace names: no path, nothing odd.
    if (name.empty() || name.size() > 32 || name[0] == '-' ||
        name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") != std::string::npos)
        return bad_argument(what, "a world's name is 1 to 32 letters, digits, '-' or '_', not \"" + name + "\"");
    const std::string dir = world_dir(base, name);
    if (verb == "up") {
        const auto rx = int_arg(rx_s, 0, 3);
        const auto owner = int_arg(owner_s, 0, std::numeric_limits<pid_t>::max());
        if (!rx) return bad_argument(what, "--rx takes 0 to 3 receivers, not \"" + rx_s + "\"");
        if (!owner) return bad_argument(what, "--owner takes a process ID, not \"" + owner_s + "\"");
        World w{name, dir, {"tx"}};
        for (long i = 1; i <= *rx; ++i) w.units.push_back("rx" + std::to_string(i));
        if (world_up(w, static_cast<int>(*owner)) != 0) {
            world_down(base, name);
            return 1;
        }
        std::printf("%s\n", dir.c_str());
        return 0;
    }
    if (verb == "down") return world_down(base, name) == 0 ? 0 : 1;
    const auto units = world_units(dir);
    if (units.empty()) return bad_argument(what, "no world " + name + " in " + base);
    // The verbs that act on one unit take only a unit of this world.
    const std::string unit = args.size() > 2 && verb != "neighbour" ? args[2] : "";
    if (!unit.empty() && !std::ranges::count(units, unit))
        return bad_argument(what, unit + " is not a unit of world " + name + " (" + joined(units) + ")");
    if (verb == "run") {
        cmd[0] = caller_path(cmd[0]);
        return run_in_unit(dir, unit, cmd);
    }
    if (verb == "start") {
        cmd[0] = caller_path(cmd[0]);
        const UnitLock lock(dir, unit);
        int pid = start_program(dir, unit, cmd);
        return said(pid > 0, unit, pid > 0 ? "program started (pid " + std::to_string(pid) + ")" : "program did not start");
    }
    if (verb == "pair") return pair_unit(dir, unit);
    if (verb == "fault") {
        const Fault f = make_fault(dir, name, unit, {args.begin() + 3, args.end()});
        return f.known ? said(f.made, unit, f.text) : bad_argument(what, f.text);
    }
    if (verb == "stats") {
        for (const auto& u : unit.empty() ? units : std::vector<std::string>{unit})
            std::printf("%s\n", unit_stats(dir, u).c_str());
        return 0;
    }
    if (verb == "status") {
        std::fputs(air_status(dir, units).c_str(), stdout);
        return 0;
    }
    if (verb == "report") {
        ReportOptions o;
        const auto seconds = number_arg(seconds_s, 1, 86400), deadline = number_arg(deadline_s, 1, 86400);
        if (!seconds || !deadline)
            return bad_argument(what, "--seconds and --deadline take 1 to 86400 seconds, not \"" +
                                          (seconds ? deadline_s : seconds_s) + "\"");
        o.seconds = *seconds;
        o.deadline = *deadline;
        o.out_dir = out_dir;
        return world_report(dir, o);
    }
    if (verb == "panel") {
        PanelOptions o;
        const auto port = int_arg(port_s, 0, 65535);
        if (!port) return bad_argument(what, "--port takes 0 (any free port) to 65535, not \"" + port_s + "\"");
        o.port = static_cast<int>(*port);
        o.bind = bind;
        return serve_panel(dir, o);
    }
    // neighbour
    const auto channel = int_arg(args[2], 1, 200);
    if (!channel || !wifi_channel(*channel))
        return bad_argument(what, "\"" + args[2] + "\" is not a Wi-Fi channel (1 to 14, or 36 to 165 in 5 GHz)");
    const std::string ssid = args.size() > 3 ? args[3] : "NEIGHBOUR-" + args[2];
    if (ssid.empty() || ssid.size() > 32 || ssid.find_first_of(" \t\n") != std::string::npos)
        return bad_argument(what, "a neighbour's SSID is 1 to 32 characters without spaces, not \"" + ssid + "\"");
    std::ofstream(dir + "/neighbours", std::ios::app) << *channel << " " << ssid << "\n";
    return 0;
}

const CommandRegistration reg_world("world",
                                    "up|down|run|start|pair|fault|stats|status|report|panel|neighbour NAME ... (see 'world')",
                                    world);

} // namespace
} // namespace hdext::sim
