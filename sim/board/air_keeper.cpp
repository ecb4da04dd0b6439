// The air keeper: runs in a world's air namespace and keeps the bridges in step with what the
// units publish. Each running access point has a bridge holding its own wlan0 peer; a station's
// peer sits on the bridge of the access point whose SSID and PSK it carries, else on none. A
// unit whose link is cut (air/cut-<unit>) sits on no bridge until the marker goes, and neither
// do the stations of a cut access point.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "sim/board/air_state.h"
#include "sim/board/world.h"

namespace hdext::sim {
namespace {

constexpr auto kPoll = std::chrono::milliseconds(50);

class Air {
public:
    explicit Air(std::string dir) : m_dir(std::move(dir)) {}

    void step() {
        const auto aps = live_aps(m_dir);
        const auto stas = live_stations(m_dir);
        const auto cut = cut_units();
        std::set<std::string> bridges;
        std::map<std::string, std::string> want;  // peer -> bridge
        std::string state;
        for (const auto& a : aps) {
            bridges.insert("br-" + a.unit);
            if (!cut.count(a.unit)) want["p-" + a.unit] = "br-" + a.unit;
            state += a.unit + " ap ssid=" + a.ssid + " channel=" + std::to_string(a.channel) + "\n";
        }
        // A station reaches only an access point whose own link is not cut.
        std::vector<ApInfo> reachable;
        for (const auto& a : aps)
            if (!cut.count(a.unit)) reachable.push_back(a);
        for (const auto& s : stas) {
            const ApInfo* a = cut.count(s.unit) ? nullptr : ap_for(s, reachable);
            if (a) want["p-" + s.unit] = "br-" + a->unit;
            state += s.unit + " station ssid=" + s.ssid + " ap=" + (a ? a->unit : "none") + "\n";
        }
        for (const auto& u : cut) state += u + " cut\n";
        for (const auto& b : bridges) {
            if (m_bridges.count(b)) continue;
            run({"ip", "link", "add", b, "type", "bridge"});
            run({"ip", "link", "set", b, "up"});
            m_bridges.insert(b);
        }
        // Detach first, so a peer never sits on a bridge that is being removed.
        for (auto it = m_master.begin(); it != m_master.end();) {
            auto w = want.find(it->first);
            if (w == want.end() || w->second != it->second) {
                run({"ip", "link", "set", it->first, "nomaster"});
                it = m_master.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = m_bridges.begin(); it != m_bridges.end();) {
            if (!bridges.count(*it)) {
                run({"ip", "link", "del", *it});
                it = m_bridges.erase(it);
            } else {
                ++it;
            }
        }
        for (const auto& [peer, bridge] : want) {
            if (m_master.count(peer)) continue;
            if (run({"ip", "link", "set", peer, "master", bridge}) == 0) m_master[peer] = bridge;
        }
        if (state != m_state) {
            std::ofstream(m_dir + "/air/state.new") << state;
            std::filesystem::rename(m_dir + "/air/state.new", m_dir + "/air/state");
            m_state = state;
            std::printf("%s--\n", state.c_str());
            std::fflush(stdout);
        }
    }

private:
    // Units whose air link is cut (a marker file air/cut-<unit>).
    std::set<std::string> cut_units() const {
        std::set<std::string> units;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(m_dir + "/air", ec)) {
            const std::string f = e.path().filename().string();
            if (f.rfind("cut-", 0) == 0) units.insert(f.substr(4));
        }
        return units;
    }

    std::string m_dir;
    std::set<std::string> m_bridges;
    std::map<std::string, std::string> m_master;
    std::string m_state = "-";
};

// Ended, or ended and not yet reaped by its parent.
bool gone(int pid) {
    if (kill(pid, 0) != 0) return errno == ESRCH;
    std::ifstream st("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(st, line);
    size_t p = line.rfind(')');
    return p != std::string::npos && p + 2 < line.size() && (line[p + 2] == 'Z' || line[p + 2] == 'X');
}

} // namespace

int run_air_keeper(const std::string& world_dir, int owner_pid) {
    Air air(world_dir);
    for (;;) {
        if (!std::filesystem::exists(world_dir + "/world.conf")) return 0;
        if (owner_pid > 0 && gone(owner_pid)) {
            // The test or script that built this world is gone: take it down.
            std::string name = std::filesystem::path(world_dir).filename().string();
            std::string base = std::filesystem::path(world_dir).parent_path().string();
            std::printf("owner %d ended: taking the world down\n", owner_pid);
            return world_down(base, name) == 0 ? 0 : 1;
        }
        air.step();
        std::this_thread::sleep_for(kPoll);
    }
}

} // namespace hdext::sim
