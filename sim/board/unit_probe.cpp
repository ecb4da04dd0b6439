#include "sim/board/unit_probe.h"

#include <arpa/inet.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/board/air_state.h"
#include "sim/board/world.h"

namespace hdext::sim {
namespace fs = std::filesystem;

namespace {

constexpr unsigned kHeartbeatPort = 9990, kStreamPort = 9000;
constexpr int kTcpEstablished = 1;

std::string link_target(const std::string& path) {
    std::error_code ec;
    const auto t = fs::read_symlink(path, ec);
    return ec ? "" : t.string();
}

// Adds the established heartbeat and stream connections of one /proc net table.
void count_links(const std::string& table, Links* l) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        char local[33] = {};
        unsigned lport = 0, rport = 0;
        int state = 0;
        // "  0: 0100007F:2706 0100007F:C350 01 ..."
        if (std::sscanf(line.c_str(), " %*d: %32[0-9A-Fa-f]:%x %*[0-9A-Fa-f]:%x %x", local, &lport, &rport,
                        &state) != 4 ||
            state != kTcpEstablished)
            continue;
        if (lport == kHeartbeatPort || rport == kHeartbeatPort) ++l->heartbeat;
        if (lport == kStreamPort || rport == kStreamPort) ++l->stream;
        // The table shows an IPv4 address as the bytes of its network order, read as a host word.
        if (rport == kStreamPort && std::strlen(local) == 8) {
            in_addr a{static_cast<in_addr_t>(std::strtoul(local, nullptr, 16))};
            char dotted[INET_ADDRSTRLEN] = {};
            if (inet_ntop(AF_INET, &a, dotted, sizeof dotted)) l->stream_addr = dotted;
        }
    }
}

bool is_program(int pid) {
    const std::string exe = fs::path(link_target("/proc/" + std::to_string(pid) + "/exe")).filename().string();
    return exe == "hdext" || exe == "hdext_nortsp";
}

// A program started with "world run" is not recorded: it is looked for in the unit's PID
// namespace. Its host PID, or 0 when none runs.
int find_program(const std::string& world_dir, const std::string& unit) {
    std::ifstream pid_file(world_dir + "/pids/" + unit + ".init");
    int init = 0;
    if (!(pid_file >> init) || init <= 0) return 0;
    // The init is PID 1 of the unit's PID namespace.
    const std::string unit_ns = link_target("/proc/" + std::to_string(init) + "/ns/pid");
    if (unit_ns.empty()) return 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        if (link_target(e.path().string() + "/ns/pid") != unit_ns) continue;
        if (is_program(std::atoi(name.c_str()))) return std::atoi(name.c_str());
    }
    return 0;
}

} // namespace

std::string Status::get(const std::string& key) const {
    for (const auto& [k, v] : kv)
        if (k == key) return v;
    return "";
}

int64_t Status::num(const std::string& key) const { return std::strtoll(get(key).c_str(), nullptr, 10); }

Status read_status(const std::string& file) {
    Status s;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos && eq > 0) s.kv.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return s;
}

bool sample_process(int pid, ProcSample* out) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (pid <= 0 || !std::getline(in, text)) return false;
    // The command name may hold spaces: the fields after it are counted from its ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream f(text.substr(close + 2));
    std::string field;
    uint64_t utime = 0, stime = 0, start = 0, rss_pages = 0;
    for (int i = 3; f >> field; ++i) {
        if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 22) start = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 24) {
            rss_pages = std::strtoull(field.c_str(), nullptr, 10);
            break;
        }
    }
    out->cpu_ticks = utime + stime;
    out->start_ticks = start;
    out->rss_kb = rss_pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
    return true;
}

double boot_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double tick_seconds() { return 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK)); }

double UnitView::started_at() const { return static_cast<double>(proc.start_ticks) * tick_seconds(); }

bool UnitView::linked() const { return pid > 0 && links.heartbeat > 0; }

bool UnitView::picture() const {
    if (pid <= 0) return false;
    return tx ? capture.get("source") == "hdmi" || capture.get("source") == "sdi" : out.get("source") == "video";
}

std::string UnitView::state() const {
    if (pid <= 0) return "not running";
    if (air.ends_with("cut")) return "air link cut";
    std::string s;
    if (tx) {
        s = air.empty() ? "starting" : "access point up";
        if (linked()) s = std::to_string(links.heartbeat) + " linked, " + std::to_string(links.stream) + " streaming";
        return picture() ? s + ", capturing " + capture.get("source") : s;
    }
    s = air.empty() || air.ends_with("ap=none") ? "starting" : "on the air";
    if (linked()) s = links.stream > 0 ? "linked, streaming" : "linked";
    return picture() ? s + ", showing video" : s;
}

UnitView look_at(const std::string& world_dir, const std::string& unit, int pid_hint) {
    UnitView v;
    v.unit = unit;
    v.tx = unit == "tx";
    v.pid = program_pid(world_dir, unit);
    if (v.pid <= 0) v.pid = pid_hint > 0 && is_program(pid_hint) ? pid_hint : find_program(world_dir, unit);
    if (v.pid > 0 && !sample_process(v.pid, &v.proc)) v.pid = 0;
    if (v.pid > 0) {
        const std::string net = "/proc/" + std::to_string(v.pid) + "/net/";
        count_links(net + "tcp", &v.links);
        count_links(net + "tcp6", &v.links);
    }
    std::istringstream air(read_text(world_dir + "/air/state"));
    for (std::string line; std::getline(air, line);)
        if (line.starts_with(unit + " ")) v.air += (v.air.empty() ? "" : "; ") + line.substr(unit.size() + 1);
    // A status file older than the program is a previous program's (a restart, a kill).
    const std::string sim = world_dir + "/" + unit + "/sim/";
    const auto started = fs::file_time_type::clock::now() - std::chrono::duration_cast<fs::file_time_type::duration>(
                                                                std::chrono::duration<double>(boot_seconds() - v.started_at()));
    auto fresh = [&](const std::string& file) {
        std::error_code ec;
        return v.pid > 0 && fs::last_write_time(file, ec) >= started && !ec ? read_status(file) : Status{};
    };
    v.out = fresh(sim + "hdmi-out/status");
    v.capture = fresh(sim + "capture/status");
    return v;
}

std::vector<std::string> world_units(const std::string& world_dir) {
    std::vector<std::string> units;
    std::istringstream in(value_of(read_text(world_dir + "/world.conf"), "units"));
    for (std::string u; in >> u;) units.push_back(u);
    return units;
}

} // namespace hdext::sim
