#include "encode/encode_threads.h"

#include <chrono>
#include <thread>

namespace hdext {
namespace {
std::atomic<bool> g_stop{false};
std::atomic<int> g_running{0};
} // namespace

const std::atomic<bool>& encode_threads_stop_flag() { return g_stop; }
void encode_thread_started() { g_running.fetch_add(1); }
void encode_thread_ended() { g_running.fetch_sub(1); }

void stop_encode_threads() {
    g_stop.store(true);
    while (g_running.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    g_stop.store(false);
}

} // namespace hdext
