#include "rtsp_test_util.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/mempool.h"


// GLib and GStreamer keep a few process-lifetime allocations that the leak checker cannot see
// being referenced from their uninstrumented code.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgstreamer-1.0.so\n";
}

namespace rtsp_test {

void env() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        if (geteuid() != 0) return;
        // The server binds its ports in a namespace of this process only.
        if (unshare(CLONE_NEWNET) != 0) return;
        if (system("ip link set lo up && ip addr add 192.168.0.1/32 dev lo") != 0) return;
        mempool_init();
        init_frame_buff_mgr(512, 102400);
        init_audio_frame_buff_mgr(512, 8192);
        ok = true;
    });
    ASSERT_TRUE(ok) << "these tests need root (own network namespace); run them as root";
}

void put_frame(frame_buff_head* list, const uint8_t* data, size_t size, bool audio, uint64_t pts) {
    frame_buff* f = audio ? alloc_audio_frame(static_cast<uint32_t>(size)) : alloc_frame(static_cast<uint32_t>(size));
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(frame_copy_data(f, data, static_cast<uint32_t>(size)), static_cast<int>(size));
    f->kind = audio ? kFrameKindAudio : kFrameKindVideo;
    f->pts = pts;
    frame_queue_tail(list, f);
}

Feeder::Feeder(frame_buff_head* video, frame_buff_head* audio, std::vector<std::vector<uint8_t>> units, int fps) {
    m_thread = std::thread([this, video, audio, units = std::move(units), fps] {
        using clock = std::chrono::steady_clock;
        const auto start = clock::now();
        const auto frame_period = std::chrono::microseconds(1000000 / fps);
        const auto audio_period = std::chrono::microseconds(1024 * 1000000LL / 44100);
        std::vector<uint8_t> alaw(1024);
        size_t next_video = 0;
        long long audio_frames = 0;
        while (!m_stop.load()) {
            const auto now = clock::now();
            if (now >= start + frame_period * static_cast<long long>(next_video)) {
                const auto& u = units[next_video % units.size()];
                put_frame(video, u.data(), u.size(), false, next_video + 1);
                ++next_video;
            }
            if (audio && now >= start + audio_period * audio_frames) {
                for (size_t i = 0; i < alaw.size(); ++i) alaw[i] = static_cast<uint8_t>(0x55 ^ ((i / 8) & 1 ? 0x80 : 0));
                put_frame(audio, alaw.data(), alaw.size(), true, static_cast<uint64_t>(audio_frames + 1));
                ++audio_frames;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

Feeder::~Feeder() {
    m_stop.store(true);
    m_thread.join();
}

std::string run(const std::string& cmd, int* status) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) {
        if (status) *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int st = pclose(p);
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

int free_port() {
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

int dial(const char* ip, int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip, &a.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    close(fd);
    return -1;
}

bool closed_by_server(int fd) {
    pollfd p{fd, POLLIN, 0};
    char c;
    const bool closed = poll(&p, 1, 30000) == 1 && recv(fd, &c, 1, 0) <= 0;
    close(fd);
    return closed;
}

} // namespace rtsp_test
