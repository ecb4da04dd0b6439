// Core runtime figures, each as a ratio to a baseline timed in the same run:
//  - pool allocation + release against glibc malloc + free of the same size;
//  - fan-out of one 100 KB frame to three queues (clones) against three payload copies;
//  - send_msg to an idle task until its handler runs, against the task loop interval.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/event.h"
#include "core/frame.h"
#include "core/mempool.h"
#include "core/task.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBatch = 1000;
constexpr uint32_t kFrameBytes = 100 * 1024;
constexpr int kConsumers = 3;

double ns_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
}

// The thread's CPU time: the subject/baseline comparisons leave out time spent preempted
// (the machines are shared).
double cpu_ns() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

MEM_POOL g_bench_pool;

// Times kBatch allocations and releases of the subject, then of malloc/free of `bytes`.
// live = 1: each block is released at once (malloc's per-thread cache best case);
// live = 64: 64 blocks are held, then released (a burst of frames or messages in flight).
template <typename Alloc, typename Free>
void pair_vs_malloc(benchmark::State& state, size_t bytes, int live, Alloc alloc, Free release) {
    std::vector<void*> held(static_cast<size_t>(live));
    double subject = 0, base = 0;
    for (auto _ : state) {
        double t0 = cpu_ns();
        for (int i = 0; i < kBatch; i += live) {
            for (auto& p : held) benchmark::DoNotOptimize(p = alloc());
            for (auto* p : held) release(p);
        }
        subject += cpu_ns() - t0;
        t0 = cpu_ns();
        for (int i = 0; i < kBatch; i += live) {
            for (auto& p : held) benchmark::DoNotOptimize(p = std::malloc(bytes));
            for (auto* p : held) std::free(p);
        }
        base += cpu_ns() - t0;
    }
    double n = static_cast<double>(state.iterations()) * kBatch;
    state.counters["pool_ns"] = subject / n;
    state.counters["malloc_ns"] = base / n;
    state.counters["ratio_vs_malloc"] = subject / base;
}

// Args: block size, blocks held at once.
void BM_GeneralPoolPairVsMalloc(benchmark::State& state) {
    size_t bytes = static_cast<size_t>(state.range(0));
    pair_vs_malloc(state, bytes, static_cast<int>(state.range(1)),
                   [bytes] { return mempool_alloc(bytes); }, [](void* p) { mempool_free(p); });
}
BENCHMARK(BM_GeneralPoolPairVsMalloc)->Args({16, 1})->Args({128, 1})->Args({16, 64})->Args({128, 64});

void BM_RecordPoolPairVsMalloc(benchmark::State& state) {
    pair_vs_malloc(state, sizeof(frame_buff), static_cast<int>(state.range(0)),
                   [] { return mempool_alloc_spec(&g_bench_pool); },
                   [](void* p) { mempool_free_spec(&g_bench_pool, p); });
}
BENCHMARK(BM_RecordPoolPairVsMalloc)->Arg(1)->Arg(64);

// Producer fills once, clones into three queues; consumers take and free their references.
// Timed in rounds so the clock reads stay out of the figure.
void BM_FanOutVsThreeCopies(benchmark::State& state) {
    constexpr int kRounds = 50;
    std::vector<uint8_t> payload(kFrameBytes, 0x5A);
    std::vector<std::vector<uint8_t>> copies(kConsumers, std::vector<uint8_t>(kFrameBytes));
    frame_buff_head queues[kConsumers];
    for (auto& q : queues) init_frame_buff_head(&q);
    frame_buff* f = alloc_frame(kFrameBytes);
    frame_copy_data(f, payload.data(), kFrameBytes);
    f->kind = kFrameKindVideo;
    double subject = 0, base = 0;
    for (auto _ : state) {
        double t0 = cpu_ns();
        for (int r = 0; r < kRounds; ++r) {
            for (auto& q : queues) frame_fan_out(&q, f, 100);
            for (auto& q : queues) free_frame(frame_dequeue(&q));
        }
        subject += cpu_ns() - t0;
        t0 = cpu_ns();
        for (int r = 0; r < kRounds; ++r) {
            for (auto& c : copies) {
                std::memcpy(c.data(), payload.data(), kFrameBytes);
                benchmark::ClobberMemory();
            }
        }
        base += cpu_ns() - t0;
    }
    free_frame(f);
    double n = static_cast<double>(state.iterations()) * kRounds;
    state.counters["fanout_ns"] = subject / n;
    state.counters["copy3_ns"] = base / n;
    state.counters["ratio_vs_copy"] = subject / base;
}
BENCHMARK(BM_FanOutVsThreeCopies);

std::atomic<bool> g_handled{false};
void mark_handled(THR_TASK*, MQ_LIST*) { g_handled.store(true, std::memory_order_release); }
void latency_init(THR_TASK* t) { register_msg_handler(t, mark_handled); }
void latency_init_slow(THR_TASK* t) {
    register_msg_handler(t, mark_handled);
    set_task_base_timer_calc(t, 100);
}

// Round trips from send_msg to the handler of an idle task, in microseconds.
std::vector<double> sample_latency(uint32_t mid, int samples) {
    std::vector<double> us;
    us.reserve(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        g_handled.store(false);
        MSG_INFO m{0x1, mid, mid + 1, 0, nullptr};
        auto t0 = Clock::now();
        send_msg(&m);
        while (!g_handled.load(std::memory_order_acquire)) {
        }
        us.push_back(ns_since(t0) / 1000.0);
    }
    std::sort(us.begin(), us.end());
    return us;
}

double pct(const std::vector<double>& v, double p) {
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

void BM_SendMsgToIdleTask(benchmark::State& state) {
    constexpr uint32_t kFast = 0x6100, kSlow = 0x6200;
    static bool started = [] {
        register_task(kFast, nullptr, latency_init, 0);
        register_task(kSlow, nullptr, latency_init_slow, 0);
        return true;
    }();
    (void)started;
    std::vector<double> fast, slow;
    for (auto _ : state) {
        fast = sample_latency(kFast, 2000);
        slow = sample_latency(kSlow, 2000);
    }
    state.counters["p50_us"] = pct(fast, 0.50);
    state.counters["p99_us"] = pct(fast, 0.99);
    state.counters["p99_over_10ms_loop"] = pct(fast, 0.99) / 10000.0;
    state.counters["p99_us_100ms_loop"] = pct(slow, 0.99);
    state.counters["p99_ratio_100ms_vs_10ms_loop"] = pct(slow, 0.99) / pct(fast, 0.99);
}
BENCHMARK(BM_SendMsgToIdleTask)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    mempool_init();
    init_frame_buff_mgr(64, static_cast<int>(kFrameBytes));
    init_msg_mgr(1024);
    init_event_handler_mgr(512);
    init_thr_mgr(40);
    init_timer_task(nullptr);
    mempool_init_spec(&g_bench_pool, 1024, sizeof(frame_buff), "BENCH");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
