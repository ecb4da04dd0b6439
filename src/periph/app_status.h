// The 45 status bytes shared by the UI, the link, the peripherals and the companion-app
// service. Relaxed atomics: each byte has its own writers and readers tolerate a stale value.
#pragma once
#include <atomic>
#include <cstdint>

struct SETTINGS_BLOCK;

inline constexpr int kAppStatusBytes = 45;
extern std::atomic<uint8_t> app_status[kAppStatusBytes];

// Fills the status bytes from the role and the settings block. Called by the parameter store
// at the end of its start-up, before any task runs. Returns 0.
int app_status_init(const SETTINGS_BLOCK* settings);
