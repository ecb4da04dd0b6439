// What the TX last reported about its input, as the RX's output format. Written by the
// heartbeat receiver, read by the decode tasks (any thread, relaxed: one writer per value).
// The output timing code is VO_SYNC_ATT (periph/input_state.h), shared with the TX side.
#pragma once
#include <atomic>

extern std::atomic<int> MaxW_ATT;
extern std::atomic<int> MaxH_ATT;
extern std::atomic<int> FrameRate;
extern std::atomic<int> AudioSampling;
