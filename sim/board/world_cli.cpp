// "hdext-board world ...": build, use and remove simulated kits.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/board/air_state.h"
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

// Takes "--key VALUE" out of args; def when absent.
std::string take(std::vector<std::string>& args, const std::string& key, const std::string& def) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] != key) continue;
        std::string v = args[i + 1];
        args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
        return v;
    }
    return def;
}

int usage() {
    std::fprintf(stderr,
                 "usage: hdext-board world up NAME [--rx N] [--dir BASE] [--owner PID]\n"
                 "       hdext-board world down NAME [--dir BASE]\n"
                 "       hdext-board world run NAME UNIT [--dir BASE] -- COMMAND [ARGS]\n"
                 "       hdext-board world start NAME UNIT [--dir BASE] -- COMMAND [ARGS]\n"
                 "       hdext-board world fault NAME UNIT [--dir BASE] cut|restore|drop PERCENT|rate KBIT|\n"
                 "                                           kill|restart|daemon stop|start hostapd|wpa_supplicant|dhcpd\n"
                 "       hdext-board world stats NAME [UNIT] [--dir BASE]\n"
                 "       hdext-board world status NAME [--dir BASE]\n"
                 "       hdext-board world report NAME [--dir BASE] [--seconds N] [--deadline S] [--out DIR]\n"
                 "       hdext-board world panel NAME [--dir BASE] [--port P] [--bind ADDR]\n"
                 "       hdext-board world neighbour NAME CHANNEL [SSID] [--dir BASE]\n");
    return 2;
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
    for (int s : {SIGTERM, SIGINT, SIGHUP}) signal(s, [](int sig) { kill(g_child, sig); });
    int st = 0;
    while (waitpid(g_child, &st, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

int world(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> cmd;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--") continue;
        cmd.assign(args.begin() + static_cast<long>(i) + 1, args.end());
        args.resize(i);
        break;
    }
    const std::string base = take(args, "--dir", kWorldBase);
    if (args.size() < 2) return usage();
    const std::string verb = args[0], name = args[1];
    const std::string dir = world_dir(base, name);
    if (verb == "up") {
        World w{name, dir, {"tx"}};
        int rx = std::atoi(take(args, "--rx", "1").c_str());
        int owner = std::atoi(take(args, "--owner", "0").c_str());
        if (rx < 0 || rx > 3) {
            std::fprintf(stderr, "world up: --rx must be 0 to 3\n");
            return 2;
        }
        for (int i = 1; i <= rx; ++i) w.units.push_back("rx" + std::to_string(i));
        if (world_up(w, owner) != 0) {
            world_down(base, name);
            return 1;
        }
        std::printf("%s\n", dir.c_str());
        return 0;
    }
    if (verb == "down") return world_down(base, name) == 0 ? 0 : 1;
    if (verb == "run") {
        if (args.size() < 3 || cmd.empty()) return usage();
        return run_in_unit(dir, args[2], cmd);
    }
    // The verbs that act on one unit take only a unit of this world.
    if ((verb == "run" || verb == "start" || verb == "fault" || verb == "stats") && args.size() > 2 &&
        !std::ranges::count(world_units(dir), args[2])) {
        std::fprintf(stderr, "world %s: %s is not a unit of world %s\n", verb.c_str(), args[2].c_str(), name.c_str());
        return 2;
    }
    if (verb == "start") {
        if (args.size() < 3 || cmd.empty()) return usage();
        int pid = start_program(dir, args[2], cmd);
        return said(pid > 0, args[2], pid > 0 ? "program started (pid " + std::to_string(pid) + ")" : "program did not start");
    }
    if (verb == "fault") {
        if (args.size() < 4) return usage();
        const Fault f = make_fault(dir, name, args[2], {args.begin() + 3, args.end()});
        if (f.bad_value) {
            std::fprintf(stderr, "world fault: %s\n", f.text.c_str());
            return 2;
        }
        return f.known ? said(f.made, args[2], f.text) : usage();
    }
    if (verb == "stats") {
        const auto units = args.size() > 2 ? std::vector<std::string>{args[2]} : world_units(dir);
        for (const auto& u : units) std::printf("%s\n", unit_stats(dir, u).c_str());
        return units.empty() ? 1 : 0;
    }
    if (verb == "status") {
        std::fputs(read_text(dir + "/air/state").c_str(), stdout);
        return 0;
    }
    if (verb == "report") {
        ReportOptions o;
        o.seconds = std::atof(take(args, "--seconds", "20").c_str());
        o.deadline = std::atof(take(args, "--deadline", "120").c_str());
        o.out_dir = take(args, "--out", "");
        if (o.seconds < 1 || o.deadline < 1) {
            std::fprintf(stderr, "world report: --seconds and --deadline take at least 1\n");
            return 2;
        }
        return world_report(dir, o);
    }
    if (verb == "panel") {
        PanelOptions o;
        o.port = std::atoi(take(args, "--port", std::to_string(o.port)).c_str());
        o.bind = take(args, "--bind", o.bind);
        if (o.port < 0 || o.port > 65535) {
            std::fprintf(stderr, "world panel: --port takes 0 to 65535\n");
            return 2;
        }
        return serve_panel(dir, o);
    }
    if (verb == "neighbour") {
        if (args.size() < 3) return usage();
        std::ofstream(dir + "/neighbours", std::ios::app)
            << args[2] << " " << (args.size() > 3 ? args[3] : "NEIGHBOUR-" + args[2]) << "\n";
        return 0;
    }
    return usage();
}

const CommandRegistration reg_world("world",
                                    "up|down|run|start|fault|stats|status|report|panel|neighbour NAME ... (see 'world')",
                                    world);

} // namespace
} // namespace hdext::sim
