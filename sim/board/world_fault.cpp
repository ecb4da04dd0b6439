// Faults of the air: a unit's link cut and restored (the air keeper takes its wlan0 peer off
// every bridge while air/cut-<unit> exists), a share of its packets dropped and its rate policed
// (an nftables table each in the unit's network namespace, so either ends on its own); and the
// words of every fault, for "world fault" and the browser panel.
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "sim/board/air_state.h"
#include "sim/board/world.h"

namespace hdext::sim {
namespace {

constexpr const char* kDropTable = "inet hdext_fault";
constexpr const char* kRateTable = "inet hdext_rate";
constexpr long kMaxKbit = 10'000'000;

// Replaces a table of the unit's namespace by one whose two chains (in and out of wlan0) end in
// rule; none when rule is empty. Created, emptied and filled in one transaction, so a change
// never lets packets through.
bool set_wlan_rule(const std::string& world, const std::string& unit, const char* table, const std::string& rule) {
    std::string rules = std::string("table ") + table + "\ndelete table " + table + "\n";
    if (!rule.empty())
        rules += std::string("table ") + table + " {\n" +
                 "  chain in { type filter hook input priority 0; iifname \"wlan0\" " + rule + "; }\n" +
                 "  chain out { type filter hook output priority 0; oifname \"wlan0\" " + rule + "; }\n}\n";
    const std::string cmd = "ip netns exec " + netns_name(world, unit) + " nft -f -";
    FILE* p = popen(cmd.c_str(), "w");
    if (!p) return false;
    std::fputs(rules.c_str(), p);
    int st = pclose(p);
    return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

// A whole decimal number within [lo, hi], or -1.
long number_in(const std::string& text, long lo, long hi) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    return digits && !errno && *end == 0 && v >= lo && v <= hi ? v : -1;
}

std::string cut_marker(const std::string& world_dir, const std::string& unit) {
    return world_dir + "/air/cut-" + unit;
}

} // namespace

bool set_cut(const std::string& world_dir, const std::string& unit, bool cut) {
    std::error_code ec;
    if (cut)
        std::ofstream(cut_marker(world_dir, unit)) << "cut\n";
    else
        std::filesystem::remove(cut_marker(world_dir, unit), ec);
    return air_shows(world_dir, unit + " cut", cut);
}

bool air_shows(const std::string& world_dir, const std::string& line_start, bool shown) {
    for (int i = 0; i < 500; ++i) {
        if ((("\n" + read_text(world_dir + "/air/state")).find("\n" + line_start) != std::string::npos) == shown)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool set_drop(const std::string& world, const std::string& unit, int percent) {
    return set_wlan_rule(world, unit, kDropTable,
                         percent <= 0    ? ""
                         : percent >= 100 ? "drop"
                                          : "numgen random mod 100 < " + std::to_string(percent) + " drop");
}

bool set_rate(const std::string& world, const std::string& unit, long kbit) {
    // nftables counts bytes; its bucket holds one second of the rate.
    return set_wlan_rule(world, unit, kRateTable,
                         kbit > 0 ? "limit rate over " + std::to_string(kbit * 125) + " bytes/second drop" : "");
}

Fault make_fault(const std::string& dir, const std::string& name, const std::string& unit,
                 const std::vector<std::string>& a) {
    const std::string what = a.empty() ? "" : a[0];
    if (what == "cut" || what == "restore") {
        const bool cut = what == "cut";
        return {true, set_cut(dir, unit, cut), cut ? "air link cut" : "air link restored"};
    }
    if (what == "drop" && a.size() == 2) {
        const long pct = number_in(a[1], 0, 100);
        if (pct < 0) return {true, false, "drop takes a percent from 0 to 100, not \"" + a[1] + "\"", true};
        return {true, set_drop(name, unit, static_cast<int>(pct)), "drops " + std::to_string(pct) + "% of its packets"};
    }
    if (what == "rate" && a.size() == 2) {
        const long kbit = number_in(a[1], 0, kMaxKbit);
        if (kbit < 0)
            return {true, false,
                    "rate takes kbit/s from 1 to " + std::to_string(kMaxKbit) + " (0 ends it), not \"" + a[1] + "\"",
                    true};
        const bool ok = set_rate(name, unit, kbit);
        if (kbit == 0) return {true, ok, ok ? "air rate no longer limited" : "air rate limit could not be ended"};
        return {true, ok, ok ? "air limited to " + std::to_string(kbit) + " kbit/s each way" : "air rate limit could not be set"};
    }
    if (what == "kill") {
        int pid = kill_program(dir, unit);
        return {true, pid >= 0, pid > 0 ? "program killed (pid " + std::to_string(pid) + ")"
                                : pid == 0 ? "no program running" : "program would not end"};
    }
    if (what == "restart") {
        const auto cmd = program_command(dir, unit);
        if (cmd.empty()) return {true, false, "no program was started with 'world start'"};
        if (kill_program(dir, unit) < 0) return {true, false, "program would not end"};
        int pid = start_program(dir, unit, cmd);
        return {true, pid > 0, pid > 0 ? "program restarted (pid " + std::to_string(pid) + ")" : "program did not start"};
    }
    if (what == "daemon" && a.size() == 3 && (a[1] == "stop" || a[1] == "start")) {
        const bool stop = a[1] == "stop";
        int rc = stop ? stop_daemon(dir, unit, a[2]) : start_daemon(dir, unit, a[2]);
        if (rc < 0) return {};
        return {true, rc == 0,
                a[2] + (rc == 0 ? (stop ? " stopped" : " started")
                        : rc == 3 ? (stop ? " is not running" : " was never started")
                                  : (stop ? " would not stop" : " did not start"))};
    }
    return {};
}

} // namespace hdext::sim
