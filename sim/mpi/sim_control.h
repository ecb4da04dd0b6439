// What the software media platform shows to tests, the smoke program and benchmarks: counters
// of the units and a few hooks. Not part of the platform interface; a unit has no such thing.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sim/mpi/stages.h"

namespace hdext::sim {

// Pictures a capture channel has handed on since it was enabled.
uint32_t vi_frames_produced(int dev, int chn);

struct VencStats {
    uint64_t encoded = 0; // pictures encoded
    uint64_t dropped = 0; // pictures lost (input or output queue full, wrong size)
    uint64_t bytes = 0;
};
VencStats venc_stats(int chn);

// Holds a decoder channel's worker so that sent streams stay queued (or lets it go on).
void vdec_hold(int chn, bool hold);
size_t vdec_queued(int chn);
uint64_t vdec_decoded(int chn);

struct VoStats {
    uint64_t shown = 0;       // pictures displayed
    uint64_t stamped = 0;     // of which carried a readable stamp
    uint64_t gaps = 0;        // frame numbers missing between two stamped pictures
    uint64_t reordered = 0;   // stamped pictures older than the one before
    int64_t first_frame = -1; // first and last frame number seen
    int64_t last_frame = -1;
    uint64_t latency_p50_us = 0;
    uint64_t latency_p99_us = 0;
    uint64_t latency_max_us = 0;
    uint64_t latency_now_us = 0; // the last stamped picture's
    uint64_t stage_p50_us[kStages] = {}; // per stage of kStageNames, over the same window
    uint64_t stage_p99_us[kStages] = {};
    int width = 0, height = 0;
    bool still = false; // last picture came from a still-picture decoder
};
// Counters of an output channel since it was enabled.
VoStats vo_stats(int layer, int chn);

struct AoStats {
    uint64_t frames = 0;
    uint64_t samples_in = 0;  // at the input rate
    uint64_t samples_out = 0; // at the device rate
    uint64_t underruns = 0;
    uint64_t waits = 0; // send_frame calls that waited for room
    int device_rate = 0;
    int input_rate = 0;
};
AoStats ao_stats(int dev, int chn);

} // namespace hdext::sim
