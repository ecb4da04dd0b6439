// The re-stream as a client sees it: real FFmpeg clients against the server on loopback, fed
// through the re-stream lists with H.264 from the software encoder and A-law audio.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "rtsp/rtsp_server.h"
#include "rtsp_test_util.h"
#include "support/child_process.h"
#include "support/wait.h"

using namespace rtsp_test;

namespace {

constexpr int kFps = 30;

using hdext::test::eventually;
using namespace std::chrono_literals;

class Restream : public ::testing::Test {
protected:
    void SetUp() override {
        env();
        if (HasFatalFailure()) return;
        init_frame_buff_head(&video);
        init_frame_buff_head(&audio);
        // Two slices per picture, as the TX's encoder makes them.
        units = encode_h264(320, 240, kFps, 60, 15, 1000000, 2);
        ASSERT_FALSE(units.empty()) << "no H.264 encoder";
        opt.address = "127.0.0.1";
        opt.port = free_port();
        opt.video_list = &video;
        opt.audio_list = &audio;
        opt.pushed = [](int track) {
            if (track == 1) ++g_pushed;
        };
    }
    void TearDown() override {
        for (const char* t : {"tcp", "udp"}) unlink(client_log(t).c_str());
        feeder.reset();
        server.reset();
        frame_queue_flush(&video);
        frame_queue_flush(&audio);
    }
    void start(bool with_audio = true) {
        server = std::make_unique<RtspRestream>(opt);
        std::string err;
        ASSERT_TRUE(server->start(&err)) << err;
        feeder = std::make_unique<Feeder>(&video, with_audio ? &audio : nullptr, units, kFps);
    }
    std::string url() const { return "rtsp://127.0.0.1:" + std::to_string(opt.port) + "/live"; }
    // A client decoding until it is destroyed, reporting its frame count as it goes.
    std::unique_ptr<hdext::test::ChildProcess> client(const char* transport) {
        return std::make_unique<hdext::test::ChildProcess>(
            "/usr/bin/ffmpeg", std::vector<std::string>{}, client_log(transport),
            std::vector<std::string>{"-nostdin", "-v", "info", "-nostats", "-progress", "pipe:1", "-stats_period", "0.1",
                                     "-rtsp_transport", transport, "-i", url(), "-map", "0:v", "-enc_time_base:v", "-1",
                                     "-f", "null", "-"});
    }
    static std::string client_log(const char* transport) {
        return "/tmp/hdext-rtsp-client-" + std::to_string(getpid()) + "-" + transport;
    }
    static long decoded(const hdext::test::ChildProcess& c) {
        const std::string out = c.output();
        const size_t p = out.rfind("\nframe=");
        return p == std::string::npos ? 0 : std::atol(out.c_str() + p + 7);
    }
    // Once every client really receives, a window of two seconds of the source's frames (not of
    // the clock: a loaded machine slows the source too). Every client decodes as many frames
    // as went into the pipeline in that window.
    void each_receives_the_window(const std::vector<hdext::test::ChildProcess*>& clients) {
        auto all = [&](auto pred) { return std::all_of(clients.begin(), clients.end(), pred); };
        ASSERT_TRUE(eventually([&] { return all([](auto* c) { return decoded(*c) > 0; }); }, 60s, 20ms));
        std::vector<long> from;
        for (auto* c : clients) from.push_back(decoded(*c));
        const long p0 = g_pushed.load();
        ASSERT_TRUE(eventually([&] { return g_pushed.load() >= p0 + 2 * kFps; }, 60s, 20ms));
        const long produced = g_pushed.load() - p0;
        for (size_t i = 0; i < clients.size(); ++i)
            EXPECT_TRUE(eventually([&] { return decoded(*clients[i]) - from[i] >= produced; }, 60s, 20ms))
                << produced << " frames went in; client " << i << " decoded " << decoded(*clients[i]) - from[i] << "\n"
                << clients[i]->output();
    }

    static inline std::atomic<long> g_pushed{0};
    frame_buff_head video{}, audio{};
    std::vector<std::vector<uint8_t>> units;
    RtspServerOptions opt;
    std::unique_ptr<RtspRestream> server;
    std::unique_ptr<Feeder> feeder;
};

// A key picture reaches clients as one access unit: nothing concealed, no time stamp twice.
TEST_F(Restream, TcpAndUdpClientsAtOnceDecodeWithoutErrorsFromOnePipeline) {
    start();
    auto a = client("tcp"), b = client("udp");
    each_receives_the_window({a.get(), b.get()});
    EXPECT_EQ(server->session_count(), 2);
    EXPECT_EQ(server->pipelines_built(), 1) << "each client got its own source";
    for (auto* c : {a.get(), b.get()})
        for (const char* bad : {"rror", "conceal", "onoton"})
            EXPECT_EQ(c->output().find(bad), std::string::npos) << bad << " in\n" << c->output();
}

// The session announces both tracks even without audio, whose track then carries silence.
TEST_F(Restream, AnnouncesH264AndPcmaAt44100MonoAndWithoutAudioSendsAlawSilence) {
    start(false);
    int st = -1;
    std::string probe = run("timeout 40 ffprobe -v trace -rtsp_transport udp -show_entries "
                            "stream=codec_name,sample_rate,channels -of compact " + url() + " 2>&1", &st);
    EXPECT_EQ(st, 0) << probe;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(probe, m, std::regex("a=rtpmap:(\\d+) PCMA/44100\r?\n"))) << probe;
    EXPECT_GE(std::stoi(m[1]), 96);
    EXPECT_LE(std::stoi(m[1]), 127);
    EXPECT_NE(probe.find("codec_name=h264"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_name=pcm_alaw|sample_rate=44100|channels=1"), std::string::npos) << probe;
    EXPECT_NE(probe.find("server_port=6970-6971"), std::string::npos) << "UDP ports start at 6970";
    char path[] = "/tmp/hdext-rtsp-silence-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::string out = run("timeout 40 ffmpeg -nostdin -y -v error -i " + url() +
                          " -t 6 -map 0:a -c copy -f alaw " + path + " 2>&1", &st);
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unlink(path);
    EXPECT_EQ(st, 0) << out;
    ASSERT_GE(bytes.size(), 512u) << out;
    EXPECT_EQ(bytes.find_first_not_of('\xD5'), std::string::npos);
}

// Only on the re-stream's address; clients over the limit, a flood of them asking at once, are
// closed unanswered (no media prepared for them) while the others stay; a connection that never
// sets up a session ends after the (here shortened) idle time.
TEST_F(Restream, ListensOnItsAddressOnlyRefusesExtraClientsUnansweredAndEndsIdleConnections) {
    opt.address = RtspServerOptions{}.address;
    opt.max_clients = 2;
    start();
    EXPECT_EQ(dial("127.0.0.1", opt.port), -1) << "reachable on another address";
    const int a = dial(kRestreamAddress, opt.port), b = dial(kRestreamAddress, opt.port);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    const std::string describe = "DESCRIBE " + server->url() + " RTSP/1.0\r\nCSeq: 1\r\n\r\n";
    std::vector<int> flood;
    for (int i = 0; i < 40; ++i) {
        flood.push_back(dial(kRestreamAddress, opt.port));
        if (flood.back() >= 0) send(flood.back(), describe.data(), describe.size(), MSG_NOSIGNAL);
    }
    for (int fd : flood) EXPECT_TRUE(closed_by_server(fd)) << "a client over the limit was served";
    EXPECT_EQ(server->pipelines_built(), 0);
    pollfd kept[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    EXPECT_EQ(poll(kept, 2, 0), 0) << "an admitted client was closed";
    close(a);
    close(b);

    server.reset();
    opt.idle_timeout_s = 1;
    opt.port = free_port();
    start();
    EXPECT_TRUE(closed_by_server(dial(kRestreamAddress, opt.port))) << "an idle connection was kept";
}

TEST_F(Restream, AVanishedClientIsReclaimedAndTheNextOneGetsAFreshPipeline) {
    opt.session_timeout_s = 2;
    start();
    pid_t pid = fork();
    if (pid == 0) {
        execlp("ffmpeg", "ffmpeg", "-nostdin", "-v", "quiet", "-rtsp_transport", "udp", "-i", url().c_str(), "-f",
               "null", "-", nullptr);
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    bool joined = eventually([&] { return server->session_count() == 1; });
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    ASSERT_TRUE(joined);
    EXPECT_TRUE(eventually([&] { return server->session_count() == 0; })) << "session never reclaimed";
    auto c = client("tcp");
    each_receives_the_window({c.get()});
    EXPECT_EQ(server->pipelines_built(), 2);
}

// The adapter's address is not there when the server starts: it is tried again, said once,
// and serves once the address is back.
TEST_F(Restream, AServerThatCannotStartIsTriedAgainUntilItsAddressIsBack) {
    opt.address = kRestreamAddress;
    ASSERT_EQ(run("ip addr del 192.168.0.1/32 dev lo 2>&1"), "");
    testing::internal::CaptureStdout();
    std::thread back([] {
        std::this_thread::sleep_for(300ms);
        run("ip addr add 192.168.0.1/32 dev lo");
    });
    server = start_restream(opt, 50ms, 600);
    back.join();
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(server) << out;
    EXPECT_EQ(out.rfind("Failed to create RTSP server: ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
    const int fd = dial(kRestreamAddress, opt.port);
    EXPECT_GE(fd, 0) << "not listening";
    close(fd);
}

} // namespace
