// Faults of the air: a unit's link cut and restored (the air keeper takes its wlan0 peer off
// every bridge while air/cut-<unit> exists) and a share of its packets dropped (an nftables
// table in the unit's network namespace).
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "sim/board/air_state.h"
#include "sim/board/world.h"

namespace hdext::sim {
namespace {

constexpr const char* kDropTable = "inet hdext_fault";

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
    // Created, emptied and filled in one transaction, so a change never lets packets through.
    std::string rules = std::string("table ") + kDropTable + "\ndelete table " + kDropTable + "\n";
    if (percent > 0) {
        const std::string rule =
            percent >= 100 ? "drop" : "numgen random mod 100 < " + std::to_string(percent) + " drop";
        rules += std::string("table ") + kDropTable + " {\n" +
                 "  chain in { type filter hook input priority 0; iifname \"wlan0\" " + rule + "; }\n" +
                 "  chain out { type filter hook output priority 0; oifname \"wlan0\" " + rule + "; }\n}\n";
    }
    const std::string cmd = "ip netns exec " + netns_name(world, unit) + " nft -f -";
    FILE* p = popen(cmd.c_str(), "w");
    if (!p) return false;
    std::fputs(rules.c_str(), p);
    int st = pclose(p);
    return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

} // namespace hdext::sim
