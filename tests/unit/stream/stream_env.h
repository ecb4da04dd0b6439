// Shared set-up of the stream transport tests: one core runtime per process, a temporary board
// with the parameter store loaded, loopback addresses and short waits, recording tasks standing
// in for the decode task (0x7000) and the parameter task (0x2000), and raw socket helpers.
#pragma once
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "board/shell.h"
#include "core/event.h"
#include "core/frame.h"
#include "core/mempool.h"
#include "decode/audio_decoder.h"
#include "decode/video_decoder.h"
#include "settings/param_config.h"
#include "stream/stream_config.h"
#include "stream/stream_net.h"
#include "support/board_root.h"

namespace stream_test {

using namespace std::chrono_literals;

struct SeenMsg {
    uint32_t src, msg_id;
    std::string data;
};

// What the recording tasks saw (they outlive main, so these are never destroyed).
inline std::mutex& the_seen_lock() {
    static auto* m = new std::mutex;
    return *m;
}
inline std::vector<SeenMsg>& seen(uint32_t mid) {
    static auto* v = new std::vector<SeenMsg>[2];
    return v[mid == kMidParam ? 1 : 0];
}
inline std::vector<SeenMsg> messages(uint32_t mid) {
    std::lock_guard<std::mutex> g(the_seen_lock());
    return seen(mid);
}
inline void record(THR_TASK* t, MQ_LIST* m) {
    std::lock_guard<std::mutex> g(the_seen_lock());
    seen(t->mid).push_back({m->src, m->msg_id,
                            m->data ? std::string(static_cast<char*>(m->data), m->len) : std::string()});
}
inline void recorder_init(THR_TASK* t) { register_msg_handler(t, record); }

// An IPv4 address and port as sockets take them.
inline sockaddr_in ipv4(const char* addr, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, addr, &a.sin_addr);
    a.sin_port = htons(port);
    return a;
}
inline int bind_to(int fd, const char* addr, uint16_t port) {
    const sockaddr_in a = ipv4(addr, port);
    return bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

// A listening socket on 127.0.0.1 at any free port, and that port.
inline int listen_loopback(uint16_t port = 0) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    EXPECT_EQ(bind_to(fd, "127.0.0.1", port), 0);
    listen(fd, 4);
    return fd;
}
inline uint16_t bound_port(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}
// A port for the TX's listeners, below the ephemeral range: between this check and the TX's
// bind, an outgoing connection (of this test or one running beside it) could otherwise be
// given the same port.
inline uint16_t free_port() {
    static std::mt19937 gen(std::random_device{}());
    for (;;) {
        const auto p = static_cast<uint16_t>(std::uniform_int_distribution<int>(10000, 30000)(gen));
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool free = bind_to(fd, "0.0.0.0", p) == 0;
        close(fd);
        if (free) return p;
    }
}

// The thread whose start the stream code is told failed ("" for none).
inline std::atomic<const char*>& refused_thread() {
    static std::atomic<const char*> what{""};
    return what;
}

// The errno both acceptors are told accept failed with (0 for none).
inline std::atomic<int> forced_accept_error{0};

// Threads of this process with the given name (pthread_setname_np), and open descriptors.
inline int threads_named(const std::string& name) {
    int n = 0;
    for (const auto& t : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(t.path() / "comm");
        std::string c;
        std::getline(comm, c);
        n += c == name;
    }
    return n;
}
inline int open_fds() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// As root each test program gets a network namespace of its own (before any thread starts),
// where packets can be dropped as a cut air link drops them: no reset, no answer.
inline bool& private_network() {
    static bool own = false;
    return own;
}
struct PrivateNetwork : ::testing::Environment {
    void SetUp() override {
        private_network() = geteuid() == 0 && unshare(CLONE_NEWNET) == 0 && std::system("ip link set lo up") == 0;
    }
};
inline const auto* const g_private_network = ::testing::AddGlobalTestEnvironment(new PrivateNetwork);
inline constexpr const char* kNeedsRoot = "this test needs root: it drops packets in a network namespace of its own";
// Drops the packets that match (nft expressions, e.g. "ip daddr 127.0.0.2"); "" lets all through.
inline bool silence(const std::string& match) {
    std::string rules = "table inet silence\ndelete table inet silence\n";
    if (!match.empty()) rules += "table inet silence { chain out { type filter hook output priority 0; " + match + " drop; }; }\n";
    return std::system(("nft -f - <<'EOF'\n" + rules + "EOF\n").c_str()) == 0;
}

inline hdext::test::TempBoardRoot& board() {
    static auto* b = new hdext::test::TempBoardRoot; // threads use the board until exit
    return *b;
}

// The TX's budget for a late receiver: far beyond what a busy test machine makes a receiver
// wait, except in the program that tests lateness (it sets its own before the TX starts).
inline std::chrono::milliseconds late_budget = 60s;

// Runtime, board, settings, loopback configuration and recording tasks, once per process.
inline void stream_env() {
    static const bool done = [] {
        mempool_init();
        init_frame_buff_mgr(256, 102400);
        init_audio_frame_buff_mgr(96, 8192);
        init_msg_mgr(1024);
        init_event_handler_mgr(512);
        init_thr_mgr(40);
        init_timer_task(nullptr);
        board();
        hdext::board::set_shell(std::make_shared<hdext::board::RecordingShell>());
        CParamConfig::Instance()->SetTiming({0ms, 0ms});
        CParamConfig::Instance()->Init();
        hdext::stream::StreamConfig c;
        c.tx_address = "127.0.0.1";
        c.net_prefix = "127.0.0";
        c.link_interface = "";
        c.stream_port = free_port();
        c.hb_port = free_port();
        c.hb_period = 50ms;
        c.hb_timeout = 10000ms;
        c.app_timeout = 2000ms;
        c.wait_stopped = 100ms;
        c.wait_retry = 50ms;
        c.pin_wait_first = 100ms;
        c.pin_wait_max = 800ms;
        c.pin_brake_first = 100ms;
        c.pin_brake_max = 1600ms;
        c.app_pairing_limit = 5000ms;
        c.first_message = 1500ms;
        c.peer_silence = 1500ms;
        c.late_budget = late_budget;
        hdext::stream::set_config(c);
        hdext::stream::StreamHooks h;
        h.thread_refused = [](const char* what) { return refused_thread().load() == std::string_view(what); };
        h.accept_error = [](const char*) { return forced_accept_error.load(); };
        hdext::stream::set_hooks(h);
        register_task(kMidVideoDecode, nullptr, recorder_init, 0);
        register_task(kMidParam, nullptr, recorder_init, 0);
        return true;
    }();
    (void)done;
}

// The decode tasks' lists, where the stream reader puts what it rebuilt.
inline void decode_lists() {
    if (g_pDecoder) return;
    g_pDecoder = new CMediaDecoder();
    g_pDecoder->InitList(200);
    g_pADecoder = new CAudioDecoderTask();
    g_pADecoder->InitList(200);
}

// Polls until pred holds; the limit only guards against a hang.
inline bool wait_until(const std::function<bool()>& pred, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// A TCP connection from a chosen loopback address (each fake unit has its own).
inline int connect_from(const char* from, uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = ipv4("127.0.0.1", port);
    if (bind_to(fd, from, 0) == 0 && connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return fd;
    close(fd);
    return -1;
}

// Waits for readable data (or the peer's close) within the limit.
inline bool readable(int fd, std::chrono::milliseconds limit) {
    pollfd pfd{fd, POLLIN, 0};
    return poll(&pfd, 1, static_cast<int>(limit.count())) > 0;
}

// Reads exactly n bytes within the limit; false on close, error or time-out.
inline bool read_exact(int fd, void* buf, size_t n, std::chrono::milliseconds limit = 5s) {
    auto* p = static_cast<uint8_t*>(buf);
    for (size_t got = 0; got < n;) {
        if (!readable(fd, limit)) return false;
        ssize_t r = recv(fd, p + got, n - got, 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

// True once the peer has closed the connection (drops anything still queued).
inline bool closed_by_peer(int fd, std::chrono::milliseconds limit = 5s) {
    uint8_t buf[4096];
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end)
        if (readable(fd, 20ms) && recv(fd, buf, sizeof buf, 0) <= 0) return true;
    return false;
}

inline std::vector<uint8_t> hb_message(uint16_t type) {
    std::vector<uint8_t> m(hb::kLen, 0);
    hb::put_type(m.data(), type);
    return m;
}

inline bool send_bytes(int fd, const std::vector<uint8_t>& b) {
    return send(fd, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
}

inline MEMPOOL_STATS pool(uint16_t kind, bool payload) { return mempool_stats(frame_pool(kind, payload)); }

} // namespace stream_test
