// Values the parameter store derives from the settings and other subsystems read.
#pragma once
#include <atomic>
#include <cstdint>

extern std::atomic<int> BitRate;      // encoder bit-rate step in Mbit/s: 12, 8 or 6
extern std::atomic<uint8_t> RESET_EN; // 1 after a factory reset
