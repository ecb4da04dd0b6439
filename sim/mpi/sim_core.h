// Shared pieces of the software media platform: clock, board files, bindings between units
// and the hand-over of pictures from a source unit to its bound destinations.
#pragma once
#include "mpi/mpi_types.h"
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

extern "C" {
struct AVFrame;
}

namespace hdext::sim {

// CLOCK_MONOTONIC in microseconds: the time base of every time stamp the platform gives out.
uint64_t now_us();
// Sleeps until the given CLOCK_MONOTONIC time (microseconds).
void sleep_until_us(uint64_t t);

// First line of a board file ("" when missing).
std::string read_board_line(const std::string& board_path);
// Writes a board file whole (through a temporary file and rename), creating its folder.
// Only on a simulated board; false otherwise.
bool write_board_file(const std::string& board_path, const std::string& content);
bool write_board_bytes(const std::string& board_path, const void* data, size_t len);
// The same for a path already resolved, into a folder that must exist.
bool write_file_whole(const std::string& path, const void* data, size_t len);

struct StageStamps;

// A picture handed from one unit to the next. still = decoded from a still-picture payload.
struct Picture {
    AVFrame* frame; // the receiver takes its own reference if it keeps it
    bool still;
    const StageStamps* stages = nullptr; // a decoded picture's stamps, when its stream had them
};

// How destination units take pictures (called during a hand-over; must not bind or unbind).
void venc_sink(int dev, int chn, const Picture& pic);
void vo_sink(int dev, int chn, const Picture& pic);
// Hands the picture to every destination bound to src; returns how many took it. Unbinding
// waits for a hand-over in progress, so no picture arrives after ss_mpi_sys_unbind returns.
int deliver(int mod, int dev, int chn, const Picture& pic);
// True when something is bound to this source.
bool has_binding(int mod, int dev, int chn);

// f(channel) under the channel's lock, or `missing` when there is no such channel.
template <class Chn, class R, class F>
R with_locked(const std::shared_ptr<Chn>& c, R missing, F f) {
    if (!c)
        return missing;
    std::lock_guard lock(c->mu);
    return f(*c);
}

} // namespace hdext::sim
