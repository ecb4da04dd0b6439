// RTSP re-stream at 1080p60, 12 Mbit/s: latency added by the re-stream (a frame put into the
// video re-stream list to the first RTP packet of that frame read by a client over RTSP/TCP)
// against a baseline of the same bytes over a plain loopback TCP connection; and the server's
// CPU per RTSP client against the server with no client.
//   bench_rtsp --benchmark_counters_tabular=true     (as root it runs in an own network namespace)
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/frame.h"
#include "core/mempool.h"
#include "rtsp/rtsp_server.h"
#include "tests/support/h264_units.h"

// GLib keeps a few process-lifetime blocks the leak checker cannot see referenced.
extern "C" const char* __lsan_default_suppressions() { return "leak:libglib-2.0.so\n"; }

namespace {

using clock_type = std::chrono::steady_clock;
constexpr int kFps = 60;
constexpr int kFrames = 240;
constexpr auto kPeriod = std::chrono::microseconds(1000000 / kFps);

struct Bench {
    frame_buff_head video{}, audio{};
    std::vector<std::vector<uint8_t>> units;
    std::unique_ptr<RtspRestream> server;
    int port = 0;
    size_t next = 0;

    Bench() {
        if (geteuid() == 0 && unshare(CLONE_NEWNET) == 0) (void)!system("ip link set lo up");
        mempool_init();
        init_frame_buff_mgr(512, 102400);
        init_audio_frame_buff_mgr(512, 8192);
        init_frame_buff_head(&video);
        init_frame_buff_head(&audio);
        units = hdext::test::encode_h264(1920, 1080, kFps, kFrames, 2 * kFps, 12000000);
        RtspServerOptions o;
        o.address = "127.0.0.1";
        for (port = 18554; port < 18600; ++port) {
            o.port = port;
            o.video_list = &video;
            o.audio_list = &audio;
            server = std::make_unique<RtspRestream>(o);
            std::string err;
            if (server->start(&err)) break;
        }
    }
    // The next access unit (and the audio that goes with its time) into the lists.
    void put_next() {
        const auto& u = units[next % units.size()];
        frame_buff* f = alloc_frame(static_cast<uint32_t>(u.size()));
        if (f) {
            frame_copy_data(f, u.data(), static_cast<uint32_t>(u.size()));
            f->kind = kFrameKindVideo;
            f->pts = next + 1;
            frame_queue_tail(&video, f);
        }
        if (next % 3 == 0) { // about 1024 samples at 44100 Hz every third picture
            std::vector<uint8_t> a(1024, 0xD4);
            frame_buff* af = alloc_audio_frame(1024);
            if (af) {
                frame_copy_data(af, a.data(), 1024);
                af->kind = kFrameKindAudio;
                af->pts = next + 1;
                frame_queue_tail(&audio, af);
            }
        }
        ++next;
    }
};

Bench& bench() {
    static Bench b;
    return b;
}

int connect_loopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// RTSP over one TCP connection with interleaved RTP: just enough to play the session.
class TcpClient {
public:
    explicit TcpClient(int port) : m_port(port), m_fd(connect_loopback(port)) {}
    ~TcpClient() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool play() {
        if (m_fd < 0) return false;
        std::string base = "rtsp://127.0.0.1:" + std::to_string(m_port) + "/live";
        std::string sdp = request("DESCRIBE " + base, "Accept: application/sdp\r\n");
        std::vector<std::string> controls;
        for (size_t p = sdp.find("a=control:stream="); p != std::string::npos; p = sdp.find("a=control:stream=", p + 1))
            controls.push_back(sdp.substr(p + 10, sdp.find("\r\n", p) - p - 10));
        if (controls.size() != 2) return false;
        for (size_t i = 0; i < controls.size(); ++i) {
            std::string r = request("SETUP " + base + "/" + controls[i],
                                    "Transport: RTP/AVP/TCP;unicast;interleaved=" + std::to_string(2 * i) + "-" +
                                        std::to_string(2 * i + 1) + "\r\n" + session_header());
            size_t s = r.find("Session: ");
            if (s == std::string::npos) return false;
            m_session = r.substr(s + 9, r.find_first_of(";\r", s + 9) - s - 9);
        }
        return request("PLAY " + base, session_header()).find(" 200 ") != std::string::npos;
    }
    // Ends a blocked packet() on another thread.
    void close() { ::shutdown(m_fd, SHUT_RDWR); }
    // Next interleaved packet: its channel and RTP time stamp; false on a closed connection.
    bool packet(int* channel, uint32_t* rtp_ts) {
        uint8_t h[4];
        for (;;) {
            if (!read_all(h, 1)) return false;
            if (h[0] == '$') break;
        }
        if (!read_all(h + 1, 3)) return false;
        size_t len = static_cast<size_t>(h[2]) << 8 | h[3];
        m_buf.resize(len);
        if (!read_all(m_buf.data(), len)) return false;
        *channel = h[1];
        *rtp_ts = len >= 8 ? (uint32_t(m_buf[4]) << 24 | uint32_t(m_buf[5]) << 16 | uint32_t(m_buf[6]) << 8 | m_buf[7]) : 0;
        return true;
    }

private:
    std::string session_header() const { return m_session.empty() ? "" : "Session: " + m_session + "\r\n"; }
    std::string request(const std::string& line, const std::string& headers) {
        std::string req = line + " RTSP/1.0\r\nCSeq: " + std::to_string(++m_cseq) + "\r\n" + headers + "\r\n";
        if (send(m_fd, req.data(), req.size(), 0) != static_cast<ssize_t>(req.size())) return "";
        std::string resp;
        char c;
        while (resp.find("\r\n\r\n") == std::string::npos && read_all(reinterpret_cast<uint8_t*>(&c), 1)) resp += c;
        size_t cl = resp.find("Content-Length: ");
        if (cl != std::string::npos) {
            std::string body(std::stoul(resp.substr(cl + 16)), '\0');
            read_all(reinterpret_cast<uint8_t*>(body.data()), body.size());
            resp += body;
        }
        return resp;
    }
    bool read_all(uint8_t* p, size_t n) {
        while (n) {
            ssize_t r = recv(m_fd, p, n, 0);
            if (r <= 0) return false;
            p += r;
            n -= static_cast<size_t>(r);
        }
        return true;
    }
    int m_port;
    int m_fd;
    int m_cseq = 0;
    std::string m_session;
    std::vector<uint8_t> m_buf;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// The same access units written into a loopback TCP connection: time to the first byte read.
std::vector<double> baseline_latencies(int frames) {
    int ls = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len);
    listen(ls, 1);
    int tx = connect_loopback(ntohs(a.sin_port));
    int rx = accept(ls, nullptr, nullptr);
    std::vector<double> lat;
    std::vector<uint8_t> sink(1 << 20);
    auto& b = bench();
    // Buffers large enough that a whole access unit is written without waiting for the reader.
    int big = 8 << 20;
    for (int fd : {tx, rx}) {
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    }
    for (int i = 0; i < frames; ++i) {
        const auto& u = b.units[static_cast<size_t>(i) % b.units.size()];
        auto t0 = clock_type::now();
        (void)!send(tx, u.data(), u.size(), MSG_DONTWAIT);
        uint8_t c;
        (void)!recv(rx, &c, 1, 0);
        lat.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - t0).count());
        size_t left = u.size() - 1;
        while (left) {
            ssize_t r = recv(rx, sink.data(), std::min(left, sink.size()), 0);
            if (r <= 0) break;
            left -= static_cast<size_t>(r);
        }
        std::this_thread::sleep_until(t0 + kPeriod);
    }
    close(tx);
    close(rx);
    close(ls);
    return lat;
}

void BM_RtspAddedLatency_1080p60(benchmark::State& state) {
    auto& b = bench();
    if (!b.server || b.units.empty()) {
        state.SkipWithError("no server or no encoder");
        return;
    }
    TcpClient client(b.port);
    // The session is described once the pipeline has prerolled: keep pictures coming meanwhile.
    std::atomic<bool> prerolled{false};
    std::thread preroll([&] {
        while (!prerolled) {
            b.put_next();
            std::this_thread::sleep_for(kPeriod);
        }
    });
    bool playing = client.play();
    prerolled = true;
    preroll.join();
    if (!playing) {
        state.SkipWithError("client could not play");
        return;
    }
    std::atomic<bool> reading{true};
    std::atomic<int64_t> first_packet_ns{0};
    std::thread reader([&] {
        int ch;
        uint32_t ts, last = 0;
        while (reading && client.packet(&ch, &ts)) {
            if (ch != 2 || ts == last) continue;
            last = ts;
            first_packet_ns = clock_type::now().time_since_epoch().count();
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<double> lat;
    for (auto _ : state) {
        for (int i = 0; i < kFrames; ++i) {
            first_packet_ns = 0;
            auto t0 = clock_type::now();
            b.put_next();
            while (first_packet_ns == 0 && clock_type::now() - t0 < kPeriod) std::this_thread::yield();
            if (first_packet_ns != 0)
                lat.push_back(static_cast<double>(first_packet_ns - t0.time_since_epoch().count()) / 1000.0);
            std::this_thread::sleep_until(t0 + kPeriod);
        }
    }
    reading = false;
    client.close();
    reader.join();
    std::vector<double> base = baseline_latencies(kFrames);
    state.counters["p50_us"] = percentile(lat, 0.5);
    state.counters["p99_us"] = percentile(lat, 0.99);
    state.counters["frames_seen"] = static_cast<double>(lat.size());
    state.counters["tcp_p50_us"] = percentile(base, 0.5);
    state.counters["p50_ratio"] = percentile(lat, 0.5) / std::max(1.0, percentile(base, 0.5));
    state.counters["p99_ratio"] = percentile(lat, 0.99) / std::max(1.0, percentile(base, 0.99));
}
BENCHMARK(BM_RtspAddedLatency_1080p60)->Iterations(1)->Unit(benchmark::kMillisecond);

double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Share of one core used by this process (server and feeding) while `clients` FFmpeg clients
// play over TCP for the window.
double cpu_share(int clients, std::chrono::seconds window) {
    auto& b = bench();
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        auto t = clock_type::now();
        while (feeding) {
            b.put_next();
            t += kPeriod;
            std::this_thread::sleep_until(t);
        }
    });
    std::vector<pid_t> pids;
    std::string url = "rtsp://127.0.0.1:" + std::to_string(b.port) + "/live";
    for (int i = 0; i < clients; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            execlp("ffmpeg", "ffmpeg", "-nostdin", "-v", "quiet", "-rtsp_transport", "tcp", "-i", url.c_str(), "-c",
                   "copy", "-f", "null", "-", nullptr);
            _exit(127);
        }
        pids.push_back(pid);
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
    double c0 = cpu_seconds();
    auto t0 = clock_type::now();
    std::this_thread::sleep_for(window);
    double share = (cpu_seconds() - c0) / std::chrono::duration<double>(clock_type::now() - t0).count();
    for (pid_t p : pids) {
        kill(p, SIGKILL);
        waitpid(p, nullptr, 0);
    }
    feeding = false;
    feeder.join();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return share;
}

void BM_RtspCpuPerClient_1080p60(benchmark::State& state) {
    if (!bench().server || bench().units.empty()) {
        state.SkipWithError("no server or no encoder");
        return;
    }
    double idle = 0, two = 0;
    for (auto _ : state) {
        idle = cpu_share(0, std::chrono::seconds(5));
        two = cpu_share(2, std::chrono::seconds(5));
    }
    state.counters["no_client_core_pct"] = idle * 100;
    state.counters["per_client_core_pct"] = (two - idle) / 2 * 100;
    state.counters["per_client_ratio"] = idle > 0 ? (two - idle) / 2 / idle : 0;
}
BENCHMARK(BM_RtspCpuPerClient_1080p60)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
