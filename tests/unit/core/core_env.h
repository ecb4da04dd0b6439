// The core runtime is process-wide (pools, task registry, tick): every test of this program
// shares one start-up, done once by core_env().
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "core/mempool.h"
#include "core/task.h"

inline constexpr int kEnvVideoFrames = 32;
inline constexpr int kEnvVideoSize = 102400;
inline constexpr int kEnvAudioFrames = 32;
inline constexpr int kEnvAudioSize = 8192;

// Pools, frame managers, message/handler/task pools and the timer task, once per process.
void core_env();

// What a test task's message handler saw.
struct SeenMsg {
    uint32_t src, dst, msg_id, len;
    std::string data;
    bool has_data;
    uint32_t pass;  // the task loop's wait count when the message was handled
};

inline constexpr uint32_t kMsgRun = 0x00C0DE01;   // payload: std::function<void(THR_TASK*)>*
inline constexpr uint32_t kMsgBlock = 0x00C0DE02; // handler waits until release_blocked()

// Registers a task whose message handler records every message (module ids must be unique
// in the process); waits until its loop runs. Returns the task.
THR_TASK* start_recording_task(uint32_t mid, uint32_t options = 0,
                               task_init_fn extra_init = nullptr);
std::vector<SeenMsg> seen_by(uint32_t mid);
// Runs fn on the task's own thread (through a message) and waits for it.
void run_on(THR_TASK* task, const std::function<void(THR_TASK*)>& fn);
// Sends kMsgBlock and waits until the task's handler is blocked in it.
void block_task(THR_TASK* task);
void release_blocked();

// Runs fn with standard output captured; returns what was printed.
std::string capture_stdout(const std::function<void()>& fn);
std::string capture_stderr(const std::function<void()>& fn);

// Polls pred until it holds or a generous deadline passes (the deadline is a hang guard,
// not a timing assertion).
bool wait_until(const std::function<bool()>& pred);

inline bool operator==(const MEMPOOL_STATS& a, const MEMPOOL_STATS& b) {
    return a.free == b.free && a.used == b.used && a.total == b.total;
}
