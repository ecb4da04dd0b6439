// SDI input detector of a TX: polls the SDI receiver, starts, retunes and stops the capture
// pipeline for SDI sources (SDI has priority over HDMI) and hands the pipeline back to HDMI
// when SDI is lost.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "encode/capture_pipeline.h"

extern std::atomic<int> old_sdi_sync; // format code the pipeline runs with (-1 none)

// Thread entry, started by TX start-up after the receiver's driver is loaded. Never returns.
void* SdiProc(void* arg);

namespace hdext {

inline constexpr uint32_t kSdiNoSignal = 0x1D;
inline constexpr int kSdiLossReadings = 3;
inline constexpr std::chrono::milliseconds kSdiCycle{3000};
inline constexpr std::chrono::milliseconds kSdiDebounceCycle{1000};

struct SdiFormat {
    uint32_t code;
    int width, height, rate, scan, sync; // scan: 1 progressive, 0 interlaced
};
extern const SdiFormat sdi_size[22];
const SdiFormat* find_sdi_format(uint32_t code);

class SdiDetector {
public:
    // `query` reads the receiver's status word (board::sdi_query for the program's detector).
    // Both are used on the polling thread only.
    SdiDetector(CapturePipeline& pipeline, std::function<bool(uint32_t*)> query);

    // One reading and its consequences; returns how long to wait before the next one:
    // kSdiDebounceCycle while a loss is being confirmed, else kSdiCycle.
    std::chrono::milliseconds poll();
    int loss_count() const { return loss_; }

private:
    std::chrono::milliseconds lost();
    void found(const SdiFormat& f);

    CapturePipeline& pipeline_;
    std::function<bool(uint32_t*)> query_;
    int loss_ = 0;
};

} // namespace hdext
