// The re-stream as a client sees it: real FFmpeg clients against the server on loopback, fed
// through the re-stream lists with H.264 from the software encoder and A-law audio.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "rtsp/rtsp_server.h"
#include "rtsp_test_util.h"
#include "support/wait.h"

using namespace rtsp_test;

namespace {

constexpr int kFps = 30;

using hdext::test::eventually;

class Restream : public ::testing::Test {
protected:
    void SetUp() override {
        env();
        if (HasFatalFailure()) return;
        init_frame_buff_head(&video);
        init_frame_buff_head(&audio);
        units = encode_h264(320, 240, kFps, 60, 15);
        ASSERT_FALSE(units.empty()) << "no H.264 encoder";
        opt.address = "127.0.0.1";
        opt.port = free_port();
        opt.video_list = &video;
        opt.audio_list = &audio;
    }
    void TearDown() override {
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
    // Decodes `seconds` of video; returns the frames decoded and the client's error output.
    std::string decode_cmd(const char* transport, int seconds) const {
        return "timeout 40 ffmpeg -nostdin -v error -rtsp_transport " + std::string(transport) + " -i " + url() +
               " -t " + std::to_string(seconds) + " -map 0:v -f framemd5 - 2>&1";
    }
    static int frames_in(const std::string& framemd5) {
        std::istringstream in(framemd5);
        std::string line;
        int n = 0;
        while (std::getline(in, line))
            if (!line.empty() && line[0] != '#') ++n;
        return n;
    }

    frame_buff_head video{}, audio{};
    std::vector<std::vector<uint8_t>> units;
    RtspServerOptions opt;
    std::unique_ptr<RtspRestream> server;
    std::unique_ptr<Feeder> feeder;
};

TEST_F(Restream, AnnouncesH264AndPcmaAt44100MonoWithDynamicPayloadType) {
    start();
    int st = -1;
    std::string probe = run("timeout 40 ffprobe -v debug -show_entries stream=codec_name,sample_rate,channels -of compact " +
                            url() + " 2>&1", &st);
    EXPECT_EQ(st, 0) << probe;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(probe, m, std::regex("a=rtpmap:(\\d+) PCMA/44100\r?\n"))) << probe;
    EXPECT_GE(std::stoi(m[1]), 96);
    EXPECT_LE(std::stoi(m[1]), 127);
    EXPECT_NE(probe.find("codec_name=h264"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_name=pcm_alaw|sample_rate=44100|channels=1"), std::string::npos) << probe;
}

TEST_F(Restream, TcpAndUdpClientsDecodeWithoutErrors) {
    start();
    for (const char* transport : {"tcp", "udp"}) {
        int st = -1;
        std::string out = run(decode_cmd(transport, 4), &st);
        EXPECT_EQ(st, 0) << transport << ": " << out;
        EXPECT_EQ(out.find("rror"), std::string::npos) << transport << ": " << out;
        EXPECT_GE(frames_in(out), 4 * kFps * 3 / 4) << transport << ": " << out;
    }
    std::string setup = run("timeout 40 ffprobe -v trace -rtsp_transport udp " + url() + " 2>&1 | grep server_port");
    EXPECT_NE(setup.find("server_port=6970-6971"), std::string::npos) << "UDP ports start at 6970" << setup;
}

TEST_F(Restream, TwoClientsAtOnceShareOnePipeline) {
    start();
    std::string a, b;
    std::thread first([&] { a = run(decode_cmd("tcp", 4)); });
    std::thread second([&] { b = run(decode_cmd("udp", 4)); });
    first.join();
    second.join();
    EXPECT_GE(frames_in(a), kFps * 2) << a;
    EXPECT_GE(frames_in(b), kFps * 2) << b;
    EXPECT_EQ(server->pipelines_built(), 1) << "each client got its own source";
}

TEST_F(Restream, WithoutAudioTheClientReceivesAlawSilence) {
    start(false);
    char path[] = "/tmp/hdext-rtsp-silence-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    int st = -1;
    std::string out = run("timeout 40 ffmpeg -nostdin -y -v error -i " + url() +
                          " -t 6 -map 0:a -c copy -f alaw " + path + " 2>&1", &st);
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unlink(path);
    EXPECT_EQ(st, 0) << out;
    ASSERT_GE(bytes.size(), 512u) << out;
    EXPECT_EQ(bytes.find_first_not_of('\xD5'), std::string::npos);
}

// Only on the re-stream's address; a client over the limit is closed at once while the others
// stay; a connection that never sets up a session ends after the (here shortened) idle time.
TEST_F(Restream, ListensOnItsAddressOnlyRefusesExtraClientsAndEndsIdleConnections) {
    opt.address = RtspServerOptions{}.address;
    opt.max_clients = 2;
    start();
    EXPECT_EQ(dial("127.0.0.1", opt.port), -1) << "reachable on another address";
    const int a = dial(kRestreamAddress, opt.port), b = dial(kRestreamAddress, opt.port);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_TRUE(closed_by_server(dial(kRestreamAddress, opt.port))) << "a third client was kept";
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
    EXPECT_GE(frames_in(run(decode_cmd("tcp", 2))), kFps);
    EXPECT_EQ(server->pipelines_built(), 2);
}

} // namespace
