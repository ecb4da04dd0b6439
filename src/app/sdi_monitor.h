// The SDI input detector thread (TX): follows the SDI receiver and switches the capture input.
// NOTE: rebuilt from sdi_monitor.cpp after the original header was overwritten by mistake; its
// owner may replace it.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "encode/capture_pipeline.h"

extern std::atomic<int> old_sdi_sync;

namespace hdext {

inline constexpr uint32_t kSdiNoSignal = 0x1D;
inline constexpr int kSdiLossReadings = 3;
inline constexpr std::chrono::milliseconds kSdiCycle{3000};
inline constexpr std::chrono::milliseconds kSdiDebounceCycle{1000};

struct SdiFormat {
    uint32_t code;
    int width;
    int height;
    int rate;
    int scan; // 1 progressive, 0 interlaced
    int sync;
};

extern const SdiFormat sdi_size[22];
const SdiFormat* find_sdi_format(uint32_t code);

// One pass of the detector per poll(); query reads the receiver's status word.
class SdiDetector {
public:
    SdiDetector(CapturePipeline& pipeline, std::function<bool(uint32_t*)> query);
    // Runs one reading; returns how long to sleep before the next.
    std::chrono::milliseconds poll();

private:
    std::chrono::milliseconds lost();
    void found(const SdiFormat& f);

    CapturePipeline& pipeline_;
    std::function<bool(uint32_t*)> query_;
    int loss_ = 0;
};

} // namespace hdext

void* SdiProc(void* arg);
