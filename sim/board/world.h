// The simulated air: a world is a folder of board roots (one per unit) plus network, PID and
// mount namespaces per unit and one "air" namespace holding a bridge per running access point.
//
// Layout of a world folder (<base>/<name>, base "/var/tmp/hdext-worlds" unless --dir):
//   <unit>/            board root of each unit: "tx", "rx1", "rx2", "rx3"
//   <unit>/sim/bin/    the unit's stand-in programs (first on its PATH)
//   air/ap-<unit>      published access point (ssid, passphrase, channel), locked while it runs
//   air/sta-<unit>     published station (ssid, psk), locked while wpa_supplicant runs
//   air/state          who is attached to which access point (written by the air keeper)
//   air/cut-<unit>     present while the unit's air link is cut
//   neighbours         neighbour networks seen by scans: "CHANNEL [SSID]" per line
//   pids/              host PIDs of the unit init processes and of the air keeper; <unit>.prog
//                      and <unit>.cmd: the program started with start_program
//   <unit>.log         that program's output
// Namespaces: "hdx-<name>-<unit>" per unit, "hdx-<name>-air"; in the air, unit U's wlan0 peer
// is "p-U" and its access point's bridge "br-U".
#pragma once
#include <string>
#include <vector>

namespace hdext::sim {

struct World {
    std::string name;
    std::string dir;                 // the world folder
    std::vector<std::string> units;  // "tx", "rx1", ...
};

inline constexpr const char* kWorldBase = "/var/tmp/hdext-worlds";

std::string world_dir(const std::string& base, const std::string& name);
std::string netns_name(const std::string& world, const std::string& unit);

// Builds a world with one TX and rx_count RX units. owner_pid > 0: the air keeper removes the
// world by itself once that process has ended. 0, or -1 with a message on stderr.
int world_up(const World& w, int owner_pid);
// Ends every process of the world and deletes its namespaces, links and folder. Works on a
// half-built or abandoned world too. 0, or -1 when something could not be removed.
int world_down(const std::string& base, const std::string& name);

// Moves the calling process into a unit's network and mount namespaces and makes its next
// children members of the unit's PID namespace. The caller must be single-threaded. After it,
// fork() and exec the unit's command with unit_env(). A unit has a private /tmp: a program
// named by a path under the host's /tmp is put in place inside it first. 0, or -1 (errno set).
int enter_unit(const std::string& world_dir, const std::string& unit, const std::string& program = "");
// KEY=VALUE additions of a unit's programs: HDEXT_BOARD_ROOT and PATH with its stand-ins first.
std::vector<std::string> unit_env(const std::string& world_dir, const std::string& unit);

// The world and unit of a stand-in program, from its board root (<world>/<unit>). False when
// the program does not run on a world's board.
bool own_unit(std::string* world_dir, std::string* unit);

// The unit's program, run in the background inside the unit by start_program: output appended
// to <world>/<unit>.log, host PID and command line kept in pids/<unit>.prog and pids/<unit>.cmd.
// Host PID, or -1 with a message on stderr (also when a program runs already).
int start_program(const std::string& world_dir, const std::string& unit, const std::vector<std::string>& cmd);
// The recorded program's host PID while it runs, else 0.
int program_pid(const std::string& world_dir, const std::string& unit);
// Its recorded command line; empty when none was started.
std::vector<std::string> program_command(const std::string& world_dir, const std::string& unit);
// Kills the recorded program (SIGKILL) and waits until it is gone: its PID, 0 when none ran,
// -1 when it would not go.
int kill_program(const std::string& world_dir, const std::string& unit);

// Stand-in daemons ("hostapd", "wpa_supplicant", "dhcpd") keep their command line and PID under
// the board's var/run/; stop kills the running one, start runs its last command line again.
// 0; 3 when none runs (stop) or none was ever started (start); -1 for an unknown name; else
// the failure status.
int stop_daemon(const std::string& world_dir, const std::string& unit, const std::string& name);
int start_daemon(const std::string& world_dir, const std::string& unit, const std::string& name);
// Daemon side, inside a unit: records the command line (at start) and the daemon's own PID.
void record_daemon(const std::string& name, int argc, char** argv);
void record_daemon_pid(const std::string& name);

// One line of what the unit's program holds: "UNIT pid=N fds=N threads=N rss_kb=N" and
// "POOL=used/total" for each fixed pool in use ("UNIT pid=0" when no program runs).
std::string unit_stats(const std::string& world_dir, const std::string& unit);

// Cuts or restores a unit's air link; returns once the air keeper has done it (false when the
// keeper did not, within seconds).
bool set_cut(const std::string& world_dir, const std::string& unit, bool cut);
// Waits until the air keeper's state has (or has not) a line starting with line_start; false
// when it does not come to that within seconds.
bool air_shows(const std::string& world_dir, const std::string& line_start, bool shown);
// Drops percent (0 to 100; 0 ends it) of the packets in and out of the unit's wlan0.
bool set_drop(const std::string& world, const std::string& unit, int percent);
// Polices each direction of the unit's wlan0 to kbit kbit/s, dropping what is over (0 ends it).
bool set_rate(const std::string& world, const std::string& unit, long kbit);

// A fault named by its words: "cut", "restore", "drop PERCENT", "rate KBIT", "kill", "restart"
// (the program of world start), "daemon stop|start hostapd|wpa_supplicant|dhcpd". Returns once
// it is made.
struct Fault {
    bool known = false;  // the words name a fault
    bool made = false;
    std::string text;    // what was done, or why not
    bool bad_value = false;  // a known fault with a value out of range (text says which)
};
Fault make_fault(const std::string& world_dir, const std::string& name, const std::string& unit,
                 const std::vector<std::string>& words);

// Runs the air keeper of a world in the air namespace until the world is taken down.
int run_air_keeper(const std::string& world_dir, int owner_pid);

// Runs a command and returns its exit status (-1 when it could not run); output goes to stderr.
int run(const std::vector<std::string>& argv);

} // namespace hdext::sim
