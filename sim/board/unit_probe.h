// What a world shows of a running unit from outside: its program's process (CPU, memory), its
// TCP links, its place in the air and the status files its simulated board writes. Read-only;
// host side (the world's report and panel), any thread.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hdext::sim {

// key=value lines of a status file, in file order.
struct Status {
    std::vector<std::pair<std::string, std::string>> kv;
    std::string get(const std::string& key) const;  // "" when missing
    int64_t num(const std::string& key) const;      // 0 when missing or not a number
};
Status read_status(const std::string& file);

struct ProcSample {
    uint64_t cpu_ticks = 0;    // user + system, every thread, in clock ticks
    uint64_t start_ticks = 0;  // start after boot, in clock ticks
    uint64_t rss_kb = 0;
};
// False when the process is gone.
bool sample_process(int pid, ProcSample* out);
// Seconds since boot (the clock of start_ticks), and the length of a clock tick.
double boot_seconds();
double tick_seconds();

// Established TCP connections on the heartbeat (9990) and stream (9000) ports in the network
// namespace of a process: on a TX the clients connected to it, on an RX its links to the TX.
struct Links {
    int heartbeat = 0;
    int stream = 0;
    std::string stream_addr;  // RX: its own address on its stream link ("" when none)
};

// One look at a unit.
struct UnitView {
    std::string unit;
    bool tx = false;
    int pid = 0;        // host PID of the unit's program (of world start, else hdext or
                        // hdext_nortsp found in the unit), 0 when none runs
    ProcSample proc;
    Links links;
    std::string air;    // its lines of the air state without the unit name, "; " between
                        // ("" while off the air; ending in "cut" while its link is cut)
    Status out;         // sim/hdmi-out/status (RX), when written by the running program
    Status capture;     // sim/capture/status (TX), likewise

    double started_at() const;   // seconds after boot
    bool linked() const;         // RX: heartbeat link to the TX; TX: at least one receiver
    bool picture() const;        // RX: live video on its HDMI output; TX: capturing a source
    std::string state() const;   // a few words for a person
};
// pid_hint: the program found by an earlier look, checked and kept while it runs.
UnitView look_at(const std::string& world_dir, const std::string& unit, int pid_hint = 0);

// The world's units in order ("tx", "rx1", ...), from world.conf; empty when there is no world.
std::vector<std::string> world_units(const std::string& world_dir);

} // namespace hdext::sim
