// What a unit's program holds, read from outside: descriptors, threads and resident memory
// from /proc, and the counters of its fixed pools from its memory. The pools are process-wide
// records in the program's data segment; they are found there by their layout (a name, and
// counters that add up), so nothing in the program has to report them.
#include <sys/uio.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/mempool.h"
#include "sim/board/air_state.h"
#include "sim/board/world.h"

namespace hdext::sim {
namespace {

std::vector<char> read_memory(int pid, uintptr_t addr, size_t len) {
    std::vector<char> buf(len);
    iovec local{buf.data(), len}, remote{reinterpret_cast<void*>(addr), len};
    ssize_t n = process_vm_readv(pid, &local, 1, &remote, 1, 0);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buf;
}

// The program's writable data: its file's read-write mappings and the zero-filled one that
// follows them.
std::vector<std::pair<uintptr_t, uintptr_t>> data_segments(int pid) {
    std::error_code ec;
    const std::string exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
    std::vector<std::pair<uintptr_t, uintptr_t>> out;
    std::istringstream maps(read_text("/proc/" + std::to_string(pid) + "/maps"));
    uintptr_t last_end = 0;
    for (std::string line; std::getline(maps, line);) {
        std::istringstream l(line);
        std::string range, perms, offset, dev, inode, path;
        l >> range >> perms >> offset >> dev >> inode;
        std::getline(l >> std::ws, path);
        const uintptr_t start = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
        const uintptr_t end = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
        const bool rw = perms.compare(0, 2, "rw") == 0;
        if (rw && (path == exe || (path.empty() && start == last_end && last_end))) out.emplace_back(start, end);
        last_end = path == exe ? end : (path.empty() && start == last_end ? end : 0);
    }
    return out;
}

bool looks_like_pool(const MEM_POOL& p) {
    const size_t len = strnlen(p.name, sizeof p.name);
    if (len < 3 || len == sizeof p.name) return false;
    for (size_t i = 0; i < len; ++i)
        if (p.name[i] < 0x20 || p.name[i] > 0x7E) return false;
    for (size_t i = len; i < sizeof p.name; ++i)
        if (p.name[i]) return false;
    return p.capacity > 0 && p.per_chunk == p.capacity / kMempoolChunks && p.block_size > 8 &&
           p.total >= 0 && p.total <= p.capacity && p.free >= 0 && p.used >= 0 && p.free + p.used == p.total;
}

// "NAME=used/total" of every pool in use, names without spaces.
std::string pool_counters(int pid) {
    std::map<std::string, std::string> pools;
    for (const auto& [start, end] : data_segments(pid)) {
        const auto mem = read_memory(pid, start, end - start);
        for (size_t off = 0; off + sizeof(MEM_POOL) <= mem.size(); off += alignof(MEM_POOL)) {
            MEM_POOL p;
            std::memcpy(static_cast<void*>(&p), mem.data() + off, sizeof p);
            if (!looks_like_pool(p) || p.total == 0) continue;
            std::string name = p.name;
            for (char& c : name)
                if (c == ' ') c = '_';
            pools[name] = std::to_string(p.used) + "/" + std::to_string(p.total);
        }
    }
    std::string out;
    for (const auto& [name, v] : pools) out += " " + name + "=" + v;
    return out;
}

} // namespace

std::string unit_stats(const std::string& world_dir, const std::string& unit) {
    const int pid = program_pid(world_dir, unit);
    if (pid <= 0) return unit + " pid=0";
    const std::string proc = "/proc/" + std::to_string(pid);
    std::error_code ec;
    int fds = 0;
    for (auto it = std::filesystem::directory_iterator(proc + "/fd", ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++fds;
    const std::string status = read_text(proc + "/status");
    auto field = [&](const char* key) {
        size_t p = status.find(std::string("\n") + key + ":");
        return p == std::string::npos ? 0L : std::atol(status.c_str() + p + std::strlen(key) + 2);
    };
    return unit + " pid=" + std::to_string(pid) + " fds=" + std::to_string(fds) +
           " threads=" + std::to_string(field("Threads")) + " rss_kb=" + std::to_string(field("VmRSS")) +
           pool_counters(pid);
}

} // namespace hdext::sim
