// A kit in the simulated air: one TX with a 1080p60 source and three RX units running the real
// program. Every RX output shows the TX's frames with a latency figure, a format change re-times
// every output, and a restarted TX is found again by every RX.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "support/world.h"

namespace hdext::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Status files and the world are read every 100 ms: the kit's processes need the cores.
template <class P>
bool wait_until(P pred, std::chrono::seconds guard = 180s) {
    return hdext::test::wait_until(pred, guard, 100ms);
}

class Kit : public ::testing::Test {
protected:
    void SetUp() override {
        world.up("kit" + std::to_string(getpid()), rx.size());
        name = world.name, board = world.board, dir = world.dir;
    }
    void TearDown() override {
        procs.clear();
        world.down();
    }
    ChildProcess& start(const std::string& unit) {
        procs[unit] = std::make_unique<ChildProcess>(
            board, std::vector<std::string>{}, dir + "/" + unit + ".log",
            std::vector<std::string>{"world", "run", name, unit, "--", build_dir() + "/src/hdext"});
        return *procs[unit];
    }
    std::string ssid() {
        std::smatch m;
        const std::string text = read_file(dir + "/tx/userdata/wifi.ini");
        return std::regex_search(text, m, std::regex("\nssid=([^\n]*)")) ? m[1].str() : "";
    }
    // One value of an RX's HDMI output status ("" when missing).
    std::string status(const std::string& unit, const std::string& key) {
        std::smatch m;
        const std::string text = read_file(dir + "/" + unit + "/sim/hdmi-out/status");
        return std::regex_search(text, m, std::regex("(^|\n)" + key + "=([^\n]*)")) ? m[2].str() : "";
    }
    long shown(const std::string& unit) {
        const std::string v = status(unit, "frames_shown");
        return v.empty() ? 0 : std::stol(v);
    }
    // Every RX shows live video and has shown `more` frames beyond `from`.
    bool all_showing(const std::map<std::string, long>& from, long more) {
        for (const auto& u : rx)
            if (status(u, "source") != "video" || shown(u) < from.at(u) + more) return false;
        return true;
    }
    std::map<std::string, long> counts() {
        std::map<std::string, long> c;
        for (const auto& u : rx) c[u] = shown(u);
        return c;
    }

    std::vector<std::string> rx = {"rx1", "rx2", "rx3"};
    World world;
    std::string name, board, dir;
    std::map<std::string, std::unique_ptr<ChildProcess>> procs;
};

TEST_F(Kit, ThreeReceiversShowTheSourceFollowItsFormatAndFindARestartedTransmitter) {
    start("tx");
    ASSERT_TRUE(wait_until([&] {
        const std::string s = ssid();
        return !s.empty() && read_file(dir + "/air/state").find("tx ap ssid=" + s + " ") != std::string::npos;
    })) << procs["tx"]->output();
    for (const auto& u : rx) {
        std::filesystem::copy_file(dir + "/tx/userdata/wifi.ini", dir + "/" + u + "/userdata/wifi.ini",
                                   std::filesystem::copy_options::overwrite_existing);
        capture_output("bash " + source_dir() + "/scripts/install-res.sh " + dir + "/" + u);
        start(u); // together: each station must still take only its own lease
    }
    capture_output(board + " hdmi --root " + dir + "/tx 1920x1080p60 audio=48000");
    const std::map<std::string, long> zero = {{"rx1", 0}, {"rx2", 0}, {"rx3", 0}};
    ASSERT_TRUE(wait_until([&] { return all_showing(zero, 120); }))
        << procs["tx"]->output() << "\n" << procs["rx1"]->output();
    for (const auto& u : rx) {
        EXPECT_EQ(status(u, "timing"), "23") << u;
        EXPECT_GT(std::stol("0" + status(u, "latency_p50_us")), 0) << u;
        std::printf("figure: %s shown %ld, gaps %s, glass-to-glass p50 %s us, p99 %s us\n", u.c_str(), shown(u),
                    status(u, "gaps").c_str(), status(u, "latency_p50_us").c_str(),
                    status(u, "latency_p99_us").c_str());
        std::fflush(stdout); // before the next child is forked
    }

    // A new source format re-times every output.
    capture_output(board + " hdmi --root " + dir + "/tx 1280x720p60 audio=48000");
    EXPECT_TRUE(wait_until([&] {
        for (const auto& u : rx)
            if (status(u, "timing") != "10" || status(u, "source") != "video") return false;
        return true;
    })) << procs["rx1"]->output();

    // The TX process dies and starts again: every RX links again and shows frames.
    procs.erase("tx");
    const auto before = counts();
    const auto t0 = Clock::now();
    start("tx");
    // The restarted TX learns about the source from the receiver chip's next notification.
    std::this_thread::sleep_for(3s);
    capture_output(board + " hdmi --root " + dir + "/tx 1280x720p60 audio=48000");
    ASSERT_TRUE(wait_until([&] { return all_showing(before, 60); })) << procs["rx1"]->output();
    std::printf("figure: TX restart to every RX showing video again: %.1f s (with its access point's "
                "start and the source plugged again 3 s after the start)\n",
                std::chrono::duration<double>(Clock::now() - t0).count());
    std::fflush(stdout);
    for (const auto& u : rx)
        EXPECT_TRUE(std::regex_search(procs[u]->output(), std::regex("connect success[\\s\\S]*connect success")))
            << u;
}

// A laptop on the USB Ethernet adapter of an RX plays the kit's stream over RTSP with FFmpeg.
class KitRestream : public Kit {
protected:
    KitRestream() { rx = {"rx1"}; } // the world's down() also checks the laptop is gone
    std::string laptop(const std::string& cmd) {
        return capture_output("ip netns exec hdx-" + name + "-rx1-laptop timeout 30 " + cmd + " 2>&1");
    }
};

TEST_F(KitRestream, LaptopPlaysTheReceivedStreamOverRtsp) {
    start("tx");
    ASSERT_TRUE(wait_until([&] {
        const std::string s = ssid();
        return !s.empty() && read_file(dir + "/air/state").find("tx ap ssid=" + s + " ") != std::string::npos;
    })) << procs["tx"]->output();
    std::filesystem::copy_file(dir + "/tx/userdata/wifi.ini", dir + "/rx1/userdata/wifi.ini",
                               std::filesystem::copy_options::overwrite_existing);
    capture_output("bash " + source_dir() + "/scripts/install-res.sh " + dir + "/rx1");
    start("rx1");
    capture_output(board + " hdmi --root " + dir + "/tx 1920x1080p60 audio=48000");
    ASSERT_TRUE(wait_until([&] { return all_showing({{"rx1", 0}}, 60); })) << procs["rx1"]->output();

    ASSERT_EQ(std::system((board + " usb ethernet plug rx1 --world " + name + " >/dev/null").c_str()), 0);
    ASSERT_TRUE(wait_until([&] {
        return read_file(dir + "/rx1/sim/laptop-address").rfind("192.168.0.", 0) == 0;
    })) << procs["rx1"]->output();
    const std::string url = " rtsp://192.168.0.1:8554/live";
    std::string probe;
    ASSERT_TRUE(wait_until([&] {
        probe = laptop("ffprobe -v error -rtsp_transport tcp -show_entries stream=codec_name,sample_rate,channels "
                       "-of compact" + url);
        return probe.find("codec_name=h264") != std::string::npos;
    }, 60s)) << probe << procs["rx1"]->output();
    EXPECT_NE(probe.find("codec_name=pcm_alaw|sample_rate=44100|channels=1"), std::string::npos) << probe;

    // Several seconds decoded without an error, over TCP and over UDP, while HDMI plays on.
    const long before = shown("rx1");
    for (const char* transport : {"tcp", "udp"}) {
        const std::string out = laptop(std::string("ffmpeg -nostdin -v error -rtsp_transport ") + transport +
                                       " -i" + url + " -t 3 -f null -; echo exit=$?");
        EXPECT_NE(out.find("exit=0"), std::string::npos) << transport << ": " << out;
        EXPECT_EQ(out.find("rror"), std::string::npos) << transport << ": " << out;
    }
    EXPECT_GT(shown("rx1"), before + 60);
}

} // namespace
} // namespace hdext::test
