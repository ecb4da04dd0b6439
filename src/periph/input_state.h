// Capture input state of a TX, written by the HDMI and SDI input detectors and read by the
// encode tasks, the media facade's input switching and the status users. Relaxed atomics:
// one writer per value, readers tolerate a stale value for one pass.
#pragma once
#include <atomic>
#include <cstdint>

extern std::atomic<int> vi_mode; // 0 none, 1 SDI, 2 HDMI
extern std::atomic<uint8_t> init_videc;
extern std::atomic<uint8_t> init_audio;
extern std::atomic<uint8_t> Frame_en;
extern std::atomic<uint8_t> RestartAudio;

extern std::atomic<int> MaxW_6911_ATT;
extern std::atomic<int> MaxH_6911_ATT;
extern std::atomic<int> FrameRate_6911;
extern std::atomic<int> SCAN_MODE_6911;
extern std::atomic<int> VO_SYNC_6911_ATT;
extern std::atomic<int> AudioSampling_6911;

extern std::atomic<int> MaxW_3471_ATT;
extern std::atomic<int> MaxH_3471_ATT;
extern std::atomic<int> FrameRate_3471;
extern std::atomic<int> SCAN_MODE_3471;
extern std::atomic<int> VO_SYNC_3471_ATT;
extern std::atomic<int> AudioSampling_3471;

extern std::atomic<int> VO_SYNC_ATT;
