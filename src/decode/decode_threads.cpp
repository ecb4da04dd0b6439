#include "decode/decode_threads.h"

#include <pthread.h>
#include <unistd.h>

#include "decode/decode_control.h"

namespace hdext::decode {
namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_running[2] = {false, false};
DecodeTiming g_timing;
LateBudgets g_late;

} // namespace

void set_decode_timing(const DecodeTiming& t) { g_timing = t; }
const DecodeTiming& decode_timing() { return g_timing; }
void set_late_budgets(const LateBudgets& b) { g_late = b; }
const LateBudgets& late_budgets() { return g_late; }

int start_decode_thread(void* (*fn)(void*), void* arg, DecodeThreadKind kind) {
    if (g_running[kind].exchange(true)) return 0;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t tid;
    const int rc = pthread_create(&tid, &attr, fn, arg);
    pthread_attr_destroy(&attr);
    if (rc != 0) g_running[kind].store(false);
    return rc;
}

bool decode_stopping() { return g_stop.load(std::memory_order_relaxed); }

void decode_thread_done(DecodeThreadKind kind) { g_running[kind].store(false, std::memory_order_release); }

void stop_decode_threads() {
    g_stop.store(true);
    while (g_running[0].load(std::memory_order_acquire) || g_running[1].load(std::memory_order_acquire))
        usleep(1000);
    g_stop.store(false);
}

} // namespace hdext::decode
