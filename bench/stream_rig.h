// A TX on loopback for benchmarks: the program's sender and heartbeat on a temporary board,
// and receivers that register on the heartbeat and rebuild the stream into the decode lists.
// Header-only; each benchmark program that includes it runs one TX.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "bench_runtime.h"
#include "board/board.h"
#include "board/shell.h"
#include "core/event.h"
#include "core/frame.h"
#include "core/mempool.h"
#include "core/task.h"
#include "decode/audio_decoder.h"
#include "decode/video_decoder.h"
#include "encode/audio_encoder_task.h"
#include "encode/video_encoder_task.h"
#include "settings/param_config.h"
#include "stream/protocol.h"
#include "stream/receiver.h"
#include "stream/sender.h"
#include "stream/stream_config.h"
#include "stream/stream_net.h"

namespace hdext::bench {

using namespace std::chrono_literals;

inline const char* const kRxAddr[3] = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};
inline std::string g_root;

inline uint64_t now_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

inline uint16_t free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

inline int connect_from(const char* from, uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, from, &a.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    a.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One TX on loopback for the whole program, with its board and settings.
inline void start_tx() {
    char tmpl[] = "/tmp/hdext-bench-stream-XXXXXX";
    g_root = mkdtemp(tmpl);
    setenv("HDEXT_BOARD_ROOT", g_root.c_str(), 1);
    hdext::board::reload_root();
    hdext::board::set_shell(std::make_shared<hdext::board::RecordingShell>());
    init_bench_runtime();
    CParamConfig::Instance()->SetTiming({0ms, 0ms});
    CParamConfig::Instance()->Init();
    hdext::stream::StreamConfig c;
    c.tx_address = "127.0.0.1";
    c.net_prefix = "127.0.0";
    c.link_interface = "";
    c.stream_port = free_port();
    c.hb_port = free_port();
    hdext::stream::set_config(c); // the unit's waits: 1 s heartbeats and retries

    g_pTaskVENC = new CVideoEncoderTask(0, 0, 0, 0, 0);
    g_pAEncoder = new CAudioEncoderTask(0, 0, 0, 0, 0);
    g_pDecoder = new CMediaDecoder();
    g_pDecoder->InitList(200);
    g_pADecoder = new CAudioDecoderTask();
    g_pADecoder->InitList(200);
    CreateSender();
    std::this_thread::sleep_for(100ms);
}

// A receiver: heartbeat kept alive by its own thread, stream rebuilt into the decode lists.

struct FakeRx {
    // settle: wait a moment after connecting, so that the stream flows when it returns.
    explicit FakeRx(const char* addr, bool settle = true) {
        // The TX must have let go of this address's previous link.
        const uint32_t a = inet_addr(addr);
        for (bool held = true; held; std::this_thread::sleep_for(5ms)) {
            std::lock_guard<std::mutex> g(g_mutex);
            held = false;
            for (int i = 0; i < kSenderSlots; ++i) held = held || g_pSenderSlots[i].m_addr == a;
        }
        hb = connect_from(addr, hdext::stream::config().hb_port);
        pinger = std::thread([this] {
            uint8_t m[hb::kLen] = {};
            hb::put_type(m, hb::kTypeRx);
            // The first message registers; the TX answers the ones after it.
            if (send(hb, m, sizeof m, MSG_NOSIGNAL) != sizeof m) return;
            while (!stop) {
                if (send(hb, m, sizeof m, MSG_NOSIGNAL) != sizeof m) break;
                uint8_t r[hb::kLen];
                size_t got = 0;
                while (got < sizeof r && !stop) {
                    ssize_t n = recv(hb, r + got, sizeof r - got, 0);
                    if (n <= 0) return;
                    got += static_cast<size_t>(n);
                }
                answered = true;
            }
        });
        // Like an RX, open the stream only once the TX answers the heartbeat (registered).
        while (!answered) std::this_thread::sleep_for(1ms);
        stream = connect_from(addr, hdext::stream::config().stream_port);
        connected_us = now_us();
        reader = std::thread([this] {
            pthread_setname_np(pthread_self(), "RecvStream");
            hdext::stream::run_stream_reader(stream);
        });
        if (settle) std::this_thread::sleep_for(100ms);
    }
    ~FakeRx() {
        stop = true;
        shutdown(stream, SHUT_RDWR);
        shutdown(hb, SHUT_RDWR);
        reader.join();
        pinger.join();
        close(stream);
        close(hb);
    }
    int hb = -1, stream = -1;
    uint64_t connected_us = 0; // the stream connection was made
    std::atomic<bool> stop{false};
    std::atomic<bool> answered{false};
    std::thread pinger, reader;
};

} // namespace hdext::bench
