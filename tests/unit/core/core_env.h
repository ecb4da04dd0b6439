// The core runtime is process-wide (pools, task registry, tick): every test of this program
// shares one start-up, done once by core_env().
#pragma once
#include <functional>
#include <string>

#include "core/mempool.h"

inline constexpr int kEnvVideoFrames = 32;
inline constexpr int kEnvVideoSize = 102400;
inline constexpr int kEnvAudioFrames = 32;
inline constexpr int kEnvAudioSize = 8192;

// Pools, frame managers, message/handler/task pools and the timer task, once per process.
void core_env();

// Runs fn with standard output captured; returns what was printed.
std::string capture_stdout(const std::function<void()>& fn);
std::string capture_stderr(const std::function<void()>& fn);

// Polls pred until it holds or a generous deadline passes (the deadline is a hang guard,
// not a timing assertion).
bool wait_until(const std::function<bool()>& pred);

inline bool operator==(const MEMPOOL_STATS& a, const MEMPOOL_STATS& b) {
    return a.free == b.free && a.used == b.used && a.total == b.total;
}
