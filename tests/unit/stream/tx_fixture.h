// A TX on loopback (sender and heartbeat started once per process) and fake receivers and apps
// talking to it from their own 127.0.0.x addresses.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "encode/audio_encoder_task.h"
#include "stream/protocol.h"
#include "encode/video_encoder_task.h"
#include "net/network_task.h"
#include "periph/app_status.h"
#include "periph/input_state.h"
#include "stream/heartbeat.h"
#include "stream/sender.h"
#include "stream_env.h"

namespace stream_test {

inline void set_supported(int n) {
    ABS_SYS_INFO_CONFIG s{};
    CParamConfig::Instance()->GetSystemInfo(&s);
    s.maxclie = static_cast<uint8_t>(n);
    CParamConfig::Instance()->SetSystemInfo(&s);
}

inline std::vector<int> slot_states() {
    std::lock_guard<std::mutex> g(g_mutex);
    std::vector<int> v;
    for (int i = 0; i < kSenderSlots; ++i) v.push_back(g_pSenderSlots[i].m_state);
    return v;
}

inline int live_clients() {
    std::lock_guard<std::mutex> g(g_mutex);
    return CSender::m_numClient;
}

// Client table as (address text, number) pairs of the entries in use, in entry order.
inline std::vector<std::pair<std::string, int>> client_table() {
    std::lock_guard<std::mutex> g(g_mutex);
    std::vector<std::pair<std::string, int>> v;
    for (const THD_INFO& e : g_thdInfo)
        if (e.used) v.emplace_back(hdext::stream::address_text(e.addr), e.number);
    return v;
}

// What fn printed on standard output.
inline std::string stdout_of(const std::function<void()>& fn) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Lines of text holding needle.
inline int lines_with(const std::string& text, const std::string& needle) {
    std::istringstream in(text);
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line.find(needle) != std::string::npos;
    return n;
}

// A video frame of `size` bytes, all of them the low byte of n (an H.264 IDR's start when idr).
inline frame_buff* numbered_frame(uint32_t size, uint64_t n, bool idr = false) {
    frame_buff* f = alloc_frame(size);
    std::vector<uint8_t> bytes(size, static_cast<uint8_t>(n));
    if (idr) std::memcpy(bytes.data(), "\0\0\0\1\x65", 5);
    frame_copy_data(f, bytes.data(), size);
    f->kind = kFrameKindVideo;
    f->pts = n;
    return f;
}

inline frame_buff* audio_frame(uint32_t size, uint64_t pts) {
    frame_buff* au = alloc_audio_frame(size);
    au->kind = kFrameKindAudio;
    au->pts = pts;
    frame_copy_data(au, std::vector<uint8_t>(size, 1).data(), size);
    return au;
}

// The fake RX's reader: frames rebuilt from its stream connection land in the decode lists.
struct Reader {
    explicit Reader(int fd) : t([fd] { hdext::stream::run_stream_reader(fd); }) {}
    ~Reader() { t.join(); }
    std::thread t;
};

class TxTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static const bool started = [] {
            stream_env();
            g_pTaskVENC = new CVideoEncoderTask(0, 0, 0, 0, 0);
            g_pAEncoder = new CAudioEncoderTask(0, 0, 0, 0, 0);
            CreateSender();
            return true;
        }();
        (void)started;
    }
    void SetUp() override {
        set_supported(3);
        CNetworkTask::SetPairingStatus(PAIRING_STATUS_IDLE);
        vi_mode.store(0);
        // Both listeners are up once a refused connection is closed by them.
        ASSERT_TRUE(wait_until([] {
            int fd = connect_from("127.0.0.1", hdext::stream::config().hb_port);
            if (fd < 0) return false;
            close(fd);
            fd = connect_from("127.0.0.1", hdext::stream::config().stream_port);
            if (fd < 0) return false;
            close(fd);
            return true;
        }));
        ASSERT_TRUE(wait_until([] { return live_clients() == 0; }));
    }
    void TearDown() override {
        for (int fd : fds) close(fd);
        fds.clear();
        EXPECT_TRUE(wait_until([] { return live_clients() == 0; })) << "client threads left running";
        EXPECT_TRUE(wait_until([] {
            for (int s : slot_states())
                if (s == SENDER_STATE_REGISTERED || s == SENDER_STATE_STREAMING) return false;
            return true;
        }));
    }
    int keep(int fd) {
        if (fd >= 0) fds.push_back(fd);
        return fd;
    }
    void drop(int fd) {
        close(fd);
        fds.erase(std::remove(fds.begin(), fds.end(), fd), fds.end());
    }
    // A receiver's heartbeat connection with its first message sent and answered (at once, not
    // only after its next message); registered once a slot holds its address.
    int register_rx(const char* from) {
        const int fd = keep(connect_from(from, hdext::stream::config().hb_port));
        EXPECT_GE(fd, 0);
        EXPECT_TRUE(send_bytes(fd, hb_message(hb::kTypeRx)));
        EXPECT_TRUE(wait_until([&] { return client_number_of(from) >= 0; })) << from << " not registered";
        uint8_t reply[hb::kLen];
        EXPECT_TRUE(read_exact(fd, reply, sizeof reply)) << from << ": first message not answered";
        return fd;
    }
    static int client_number_of(const char* addr) {
        for (auto& [a, n] : client_table())
            if (a == addr) return n;
        return -1;
    }
    // One heartbeat exchange: the reply to `msg` (empty when the connection failed).
    static std::vector<uint8_t> exchange(int fd, std::vector<uint8_t> msg) {
        if (!send_bytes(fd, msg)) return {};
        std::vector<uint8_t> reply(hb::kLen);
        if (!read_exact(fd, reply.data(), reply.size())) return {};
        return reply;
    }
    int open_stream(const char* from) { return keep(connect_from(from, hdext::stream::config().stream_port)); }

    std::vector<int> fds;
};

} // namespace stream_test
