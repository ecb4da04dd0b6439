// Stream transport figures on loopback, each against a baseline measured in the same run:
//  - program-added latency, encoder output to decoder input, p50/p99 with 1 and 3 receivers at
//    1080p60 12 Mbit/s (the baseline is the same bytes over plain TCP sockets);
//  - sender plus receiver CPU per stream at that rate, against plain TCP send/receive;
//  - throughput of one stream, against plain TCP of the same bytes.
#include <benchmark/benchmark.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <vector>

#include "core/dump_print.h"
#include "net/network_task.h"
#include "periph/input_state.h"
#include "stream/stream_net.h"
#include "stream_rig.h"

namespace {

using namespace hdext::bench;
using Clock = std::chrono::steady_clock;

constexpr int kFps = 60;
constexpr uint32_t kFrameBytes = 25000;     // 12 Mbit/s at 60 frames/s
constexpr uint32_t kKeyFrameBytes = 150000; // every 120th frame, over two blocks
constexpr uint32_t kAudioBytes = 1024;      // G.711 at 48 kHz, about 47 frames/s
constexpr int kFrames = 240;                // 4 s per measured run

double cpu_s(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU seconds of this process's threads whose name starts with one of `names` (the sender's
// and receiver's own threads), read from their thread CPU clocks.
double threads_cpu_s(std::initializer_list<const char*> names) {
    double total = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(e.path() / "comm");
        std::string name;
        std::getline(comm, name);
        bool match = false;
        for (const char* n : names) match = match || name.rfind(n, 0) == 0;
        if (!match) continue;
        const pid_t tid = static_cast<pid_t>(std::stol(e.path().filename().string()));
        // The kernel's per-thread CPU clock id (CPUCLOCK_SCHED of that thread).
        const clockid_t id = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6u);
        timespec ts{};
        if (clock_gettime(id, &ts) == 0) total += static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    }
    return total;
}

double stream_threads_cpu_s() { return threads_cpu_s({"SendStream", "send_rx_info", "RecvStream"}); }

struct RunResult {
    std::vector<double> latency_us;
    double cpu_per_stream = 0; // share of one core
    double bytes_per_s = 0;
    double send_share = 0; // the sending threads' part of cpu_per_stream
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

// Produces kFrames paced frames (and audio) into the encoders' lists; a consumer takes them
// from the decoder list. spin: the consumer polls without pause (latency), else every 10 ms
// (CPU figures leave out the consumer and the producer).
RunResult run_paced(int receivers, bool spin) {
    RunResult res;
    std::atomic<bool> done{false};
    const int expected = kFrames * receivers;
    std::thread consumer([&] {
        int seen = 0;
        while (seen < expected && !done) {
            frame_buff* f = frame_dequeue(g_pDecoder->m_pList);
            if (!f) {
                // Short sleeps: the machine has few cores and the stream's own threads need them.
                std::this_thread::sleep_for(spin ? std::chrono::microseconds(20) : std::chrono::microseconds(10000));
                continue;
            }
            if (spin) res.latency_us.push_back(static_cast<double>(now_us() - f->pts));
            free_frame(f);
            ++seen;
            frame_queue_flush(g_pADecoder->m_pList);
        }
    });
    const double s0 = stream_threads_cpu_s();
    const double send_only0 = threads_cpu_s({"SendStream"});
    const auto t0 = Clock::now();
    std::vector<uint8_t> bytes(kKeyFrameBytes, 0x5A);
    auto next = t0;
    int audio_due = 0;
    for (int i = 0; i < kFrames; ++i) {
        std::this_thread::sleep_until(next);
        next += std::chrono::microseconds(1000000 / kFps);
        const uint32_t size = i % 120 == 0 ? kKeyFrameBytes : kFrameBytes;
        frame_buff* f = alloc_frame(size);
        if (!f) continue;
        frame_copy_data(f, bytes.data(), size);
        f->kind = kFrameKindVideo;
        f->pts = now_us();
        g_pTaskVENC->PutStreamToList(f);
        free_frame(f);
        for (audio_due += 47; audio_due >= kFps; audio_due -= kFps) {
            frame_buff* a = alloc_audio_frame(kAudioBytes);
            if (!a) break;
            frame_copy_data(a, bytes.data(), kAudioBytes);
            a->kind = kFrameKindAudio;
            a->pts = now_us();
            g_pAEncoder->DispatchFrame(a);
            free_audio_frame(a);
        }
    }
    const auto end_wait = Clock::now() + 3s;
    while (Clock::now() < end_wait && frame_queue_count(g_pDecoder->m_pList) > 0) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    done = true;
    consumer.join();
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    res.cpu_per_stream = (stream_threads_cpu_s() - s0) / wall / receivers;
    res.send_share = (threads_cpu_s({"SendStream"}) - send_only0) / wall / receivers;
    return res;
}

// The same bytes at the same pace over plain TCP: one sender, one receiver thread per stream.
RunResult run_plain(int streams, bool spin, bool paced, int frames, uint32_t frame_bytes) {
    RunResult res;
    int l = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
    listen(l, 8);
    std::vector<int> tx(static_cast<size_t>(streams)), rx(static_cast<size_t>(streams));
    const int one = 1;
    for (int s = 0; s < streams; ++s) {
        tx[s] = socket(AF_INET, SOCK_STREAM, 0);
        connect(tx[s], reinterpret_cast<sockaddr*>(&a), sizeof a);
        setsockopt(tx[s], IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        rx[s] = accept(l, nullptr, nullptr);
    }
    close(l);
    // Paced runs carry the same key frames as the stream runs.
    auto size_of = [&](int i) { return paced && i % 120 == 0 ? std::max(kKeyFrameBytes, frame_bytes) : frame_bytes; };
    uint64_t expected = 0;
    for (int i = 0; i < frames; ++i) expected += size_of(i) * static_cast<uint64_t>(streams);
    std::vector<std::thread> readers;
    std::mutex lat_lock;
    std::atomic<uint64_t> received{0};
    for (int s = 0; s < streams; ++s) {
        readers.emplace_back([&, s] {
            pthread_setname_np(pthread_self(), "PlainRecv");
            std::vector<uint8_t> buf(std::max(kKeyFrameBytes, frame_bytes));
            for (int i = 0;; ++i) {
                const size_t want = size_of(i);
                size_t got = 0;
                while (got < want) {
                    ssize_t n = recv(rx[s], buf.data() + got, want - got, 0);
                    if (n <= 0) return;
                    got += static_cast<size_t>(n);
                }
                uint64_t stamp;
                std::memcpy(&stamp, buf.data(), 8);
                received += want;
                if (spin) {
                    std::lock_guard<std::mutex> g(lat_lock);
                    res.latency_us.push_back(static_cast<double>(now_us() - stamp));
                }
            }
        });
    }
    const double s0 = threads_cpu_s({"PlainRecv"});
    const double send0 = cpu_s(CLOCK_THREAD_CPUTIME_ID);
    const auto t0 = Clock::now();
    std::vector<uint8_t> frame(std::max(kKeyFrameBytes, frame_bytes), 0x5A);
    auto next = t0;
    for (int i = 0; i < frames; ++i) {
        if (paced) {
            std::this_thread::sleep_until(next);
            next += std::chrono::microseconds(1000000 / kFps);
        }
        const uint64_t stamp = now_us();
        std::memcpy(frame.data(), &stamp, 8);
        for (int s = 0; s < streams; ++s) hdext::stream::send_all(tx[s], frame.data(), static_cast<int>(size_of(i)));

    }
    while (received.load() < expected)
        std::this_thread::sleep_for(100us);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    // The sending here runs on this thread (it sleeps between frames like a sending thread).
    const double sending = cpu_s(CLOCK_THREAD_CPUTIME_ID) - send0;
    res.cpu_per_stream = (threads_cpu_s({"PlainRecv"}) - s0 + sending) / wall / streams;
    res.bytes_per_s = static_cast<double>(received.load()) / wall;
    for (int s = 0; s < streams; ++s) {
        shutdown(tx[s], SHUT_RDWR);
        close(tx[s]);
    }
    for (auto& t : readers) t.join();
    for (int fd : rx) close(fd);
    return res;
}

void BM_Latency(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    RunResult subject, base;
    for (auto _ : state) {
        std::vector<std::unique_ptr<FakeRx>> rx;
        for (int i = 0; i < n; ++i) rx.push_back(std::make_unique<FakeRx>(kRxAddr[i]));
        subject = run_paced(n, true);
        rx.clear();
        base = run_plain(n, true, true, kFrames, kFrameBytes);
        state.SetIterationTime(1);
    }
    state.counters["p50_us"] = percentile(subject.latency_us, 0.5);
    state.counters["p99_us"] = percentile(subject.latency_us, 0.99);
    state.counters["tcp_p50_us"] = percentile(base.latency_us, 0.5);
    state.counters["tcp_p99_us"] = percentile(base.latency_us, 0.99);
    state.counters["frames"] = static_cast<double>(subject.latency_us.size());
}
BENCHMARK(BM_Latency)->Arg(1)->Arg(3)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_CpuPerStream(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    RunResult subject, base;
    for (auto _ : state) {
        std::vector<std::unique_ptr<FakeRx>> rx;
        for (int i = 0; i < n; ++i) rx.push_back(std::make_unique<FakeRx>(kRxAddr[i]));
        subject = run_paced(n, false);
        rx.clear();
        base = run_plain(n, false, true, kFrames, kFrameBytes);
        state.SetIterationTime(1);
    }
    state.counters["core_pct_per_stream"] = subject.cpu_per_stream * 100;
    state.counters["of_it_sending_pct"] = subject.send_share * 100;
    state.counters["tcp_core_pct_per_stream"] = base.cpu_per_stream * 100;
    state.counters["ratio_to_tcp"] = base.cpu_per_stream > 0 ? subject.cpu_per_stream / base.cpu_per_stream : 0;
}
BENCHMARK(BM_CpuPerStream)->Arg(1)->Arg(3)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// One receiver, frames of one full block as fast as the stream takes them.
void BM_Throughput(benchmark::State& state) {
    constexpr int kCount = 600;
    constexpr uint32_t kBytes = 102400;
    double subject = 0, base = 0;
    for (auto _ : state) {
        FakeRx rx(kRxAddr[0]);
        std::vector<uint8_t> bytes(kBytes, 0x33);
        std::atomic<int> consumed{0};
        const auto give_up = Clock::now() + 30s;
        std::thread consumer([&] {
            while (consumed < kCount && Clock::now() < give_up) {
                if (frame_buff* f = frame_dequeue(g_pDecoder->m_pList)) {
                    free_frame(f);
                    ++consumed;
                } else {
                    std::this_thread::sleep_for(20us);
                }
            }
        });
        const auto t0 = Clock::now();
        for (int i = 0; i < kCount; ++i) {
            // Few frames in flight, far below the drop limit and the lateness budget, so that
            // every frame is carried; one lost all the same ends the run, not the program.
            while (i - consumed.load() > 8 && Clock::now() < give_up) std::this_thread::sleep_for(20us);
            frame_buff* f = alloc_frame(kBytes);
            frame_copy_data(f, bytes.data(), kBytes);
            f->kind = kFrameKindVideo;
            g_pTaskVENC->PutStreamToList(f);
            free_frame(f);
        }
        consumer.join();
        subject = static_cast<double>(kCount) * kBytes / std::chrono::duration<double>(Clock::now() - t0).count();
        base = run_plain(1, false, false, kCount, kBytes + 37).bytes_per_s; // header bytes included
        state.SetIterationTime(1);
    }
    state.counters["stream_MBps"] = subject / 1e6;
    state.counters["tcp_MBps"] = base / 1e6;
    state.counters["ratio_to_tcp"] = base > 0 ? subject / base : 0;
}
BENCHMARK(BM_Throughput)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

int link_count() {
    std::lock_guard<std::mutex> g(gr_mutex);
    return pReceiver ? pReceiver->m_link : 0;
}

// The receiver of this process (the program's own) linked to the TX; the TX then drops both of
// its connections, and the time until the RX streams again is measured. Baseline: the RX's
// retry wait, so the ratio says how many waits a relink costs.
void BM_Relink(benchmark::State& state) {
    static const bool linked = [] {
        vi_mode.store(2);
        MaxW_6911_ATT.store(1920);
        MaxH_6911_ATT.store(1080);
        FrameRate_6911.store(60);
        VO_SYNC_6911_ATT.store(23);
        AudioSampling_6911.store(48000);
        CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_STARTED);
        std::thread([] { CreateReceiver(); }).detach();
        const auto give_up = Clock::now() + 30s;
        while (link_count() != 3 && Clock::now() < give_up) std::this_thread::sleep_for(5ms);
        return link_count() == 3;
    }();
    std::vector<double> took;
    for (auto _ : state) {
        if (!linked) {
            state.SkipWithError("the receiver did not link");
            break;
        }
        {
            std::lock_guard<std::mutex> g(g_mutex);
            const uint32_t me = inet_addr("127.0.0.1");
            for (int i = 0; i < kSenderSlots; ++i) {
                if (g_pSenderSlots[i].m_addr != me) continue;
                hdext::stream::wake_socket(g_pSenderSlots[i].m_sock);
                hdext::stream::wake_socket(g_pSenderSlots[i].m_hbSock);
            }
        }
        const auto t0 = Clock::now();
        while (link_count() == 3 && Clock::now() - t0 < 30s) std::this_thread::sleep_for(1ms);
        while (link_count() != 3 && Clock::now() - t0 < 30s) std::this_thread::sleep_for(1ms);
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        took.push_back(s);
        state.SetIterationTime(s);
    }
    if (took.empty()) return;
    const double wait = std::chrono::duration<double>(hdext::stream::config().wait_retry).count();
    state.counters["relink_s_max"] = *std::max_element(took.begin(), took.end());
    state.counters["ratio_to_retry_wait"] = *std::max_element(took.begin(), took.end()) / wait;
}
BENCHMARK(BM_Relink)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    debug_level.store(0);
    start_tx();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
    // Sender threads are detached and live for the process; leave without unwinding them.
    std::fflush(stdout);
    _exit(0);
}
