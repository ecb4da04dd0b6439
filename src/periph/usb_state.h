// USB port state, written by the USB monitors and the re-stream check thread, read by the
// stream receiver (which copies frames to the re-stream lists only while RtmpEn is 1).
// Single bytes without locks by design; relaxed atomics keep that free of data races.
#pragma once
#include <atomic>
#include <cstdint>

extern std::atomic<uint8_t> UsbEn;  // 1 while the USB port is powered with a device attached
extern std::atomic<uint8_t> RtmpEn; // 1 while the Ethernet port is configured for re-streaming
extern std::atomic<int32_t> usb_detection_state;
