// Battery gauge (fuel-gauge chip at 0x64, read with the board's i2cget/i2cset; bus 1 on an RX,
// bus 0 on a TX), the alert LED pair, and external-power (DC) detection.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>

// 1 external power present, 0 absent, -1 not known yet. Written by the DC thread.
extern std::atomic<int32_t> dc_detection_level_state;

// Gauge set-up commands and the battery lock. 0.
int app_battery_low_power_gpio_init();
// 1: reset the filter, return -1. Otherwise measure: level 0-6 after the filter.
int app_battery_low_power_gpio_handler(int arg);
int app_battery_low_power_gpio_exit();

int app_gpio_dc_detection_export();
int app_gpio_dc_detection_unexport();
// Thread entry: keeps dc_detection_level_state current; returns only when it cannot run.
void* monitor_gpio_dc_detection_level_handler(void* arg);

namespace hdext::periph {
// Level 0-6 for a gauge reading.
int battery_level_for(int reading);
// Pause between DC reads on an RX (2 s on a unit); tests shorten it.
void set_dc_poll_interval(std::chrono::milliseconds ms);
// Starts the DC thread detached.
void start_dc_detection_thread();
// The DC thread's work: keeps dc_detection_level_state current. Returns -1 when the line cannot
// be opened or watched; otherwise runs until *stop is set (tests; a TX then wakes every 100 ms).
int dc_detection(const std::atomic<bool>* stop);
} // namespace hdext::periph
