#include "sim/mpi/sim_core.h"
#include "board/board.h"
#include "mpi/mpi.h"
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <time.h>
#include <tuple>
#include <vector>

namespace hdext::sim {

uint64_t now_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

void sleep_until_us(uint64_t t) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(t / 1000000u);
    ts.tv_nsec = static_cast<long>((t % 1000000u) * 1000u);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

std::string read_board_line(const std::string& board_path) {
    std::ifstream in(board::path(board_path));
    std::string line;
    if (in)
        std::getline(in, line);
    return line;
}

bool write_board_bytes(const std::string& board_path, const void* data, size_t len) {
    if (!board::simulated())
        return false; // a unit has no simulated outputs to report on
    const std::filesystem::path p = board::path(board_path);
    std::error_code ec;
    std::filesystem::create_directories(p.parent_path(), ec);
    return write_file_whole(p.string(), data, len);
}

bool write_file_whole(const std::string& path, const void* data, size_t len) {
    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, len, f) == len;
    std::fclose(f);
    if (!ok)
        return false;
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

bool write_board_file(const std::string& board_path, const std::string& content) {
    return write_board_bytes(board_path, content.data(), content.size());
}

namespace {
using Key = std::tuple<int, int, int>;
struct Bindings {
    std::shared_mutex mu;
    std::multimap<Key, Key> by_src;
};
Bindings& bindings() {
    static Bindings b;
    return b;
}
} // namespace

int deliver(int mod, int dev, int chn, const Picture& pic) {
    Bindings& b = bindings();
    std::shared_lock lock(b.mu);
    auto [lo, hi] = b.by_src.equal_range(Key{mod, dev, chn});
    int n = 0;
    for (auto it = lo; it != hi; ++it, ++n) {
        const auto& [dmod, ddev, dchn] = it->second;
        if (dmod == OT_ID_VENC)
            venc_sink(ddev, dchn, pic);
        else if (dmod == OT_ID_VO)
            vo_sink(ddev, dchn, pic);
    }
    return n;
}

bool has_binding(int mod, int dev, int chn) {
    Bindings& b = bindings();
    std::shared_lock lock(b.mu);
    return b.by_src.count(Key{mod, dev, chn}) > 0;
}

} // namespace hdext::sim

using hdext::sim::bindings;

int ss_mpi_sys_bind(const ot_mpp_chn* src, const ot_mpp_chn* dst) {
    if (!src || !dst)
        return ot_err(OT_ID_SYS, OT_ERR_NULL_PTR);
    auto& b = bindings();
    std::unique_lock lock(b.mu);
    const hdext::sim::Key d{dst->mod_id, dst->dev_id, dst->chn_id};
    for (const auto& [s, dd] : b.by_src)
        if (dd == d)
            return ot_err(OT_ID_SYS, OT_ERR_EXIST); // one source per destination
    b.by_src.emplace(hdext::sim::Key{src->mod_id, src->dev_id, src->chn_id}, d);
    return 0;
}

int ss_mpi_sys_unbind(const ot_mpp_chn* src, const ot_mpp_chn* dst) {
    if (!src || !dst)
        return ot_err(OT_ID_SYS, OT_ERR_NULL_PTR);
    auto& b = bindings();
    std::unique_lock lock(b.mu);
    const hdext::sim::Key s{src->mod_id, src->dev_id, src->chn_id};
    const hdext::sim::Key d{dst->mod_id, dst->dev_id, dst->chn_id};
    auto [lo, hi] = b.by_src.equal_range(s);
    for (auto it = lo; it != hi; ++it) {
        if (it->second == d) {
            b.by_src.erase(it);
            return 0;
        }
    }
    return ot_err(OT_ID_SYS, OT_ERR_UNEXIST);
}
