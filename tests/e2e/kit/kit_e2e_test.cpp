// A kit in the simulated air: one TX with a 1080p60 source and three RX units running the real
// program. Every RX output shows the TX's frames with a latency figure, a format change re-times
// every output, and a restarted TX is found again by every RX. A laptop plays an RX's re-stream,
// and a browser drives the world's front panel.
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
    // Starts the TX, gives every RX its network (as if paired) and starts them together, plugs
    // a 1080p60 source and waits until every RX has shown `frames` frames.
    void stream(long frames) {
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
        std::map<std::string, long> zero;
        for (const auto& u : rx) zero[u] = 0;
        ASSERT_TRUE(wait_until([&] { return all_showing(zero, frames); }))
            << procs["tx"]->output() << "\n" << procs[rx[0]]->output();
    }

    std::vector<std::string> rx = {"rx1", "rx2", "rx3"};
    World world;
    std::string name, board, dir;
    std::map<std::string, std::unique_ptr<ChildProcess>> procs;
};

TEST_F(Kit, ThreeReceiversShowTheSourceFollowItsFormatAndFindARestartedTransmitter) {
    ASSERT_NO_FATAL_FAILURE(stream(120));
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

// A kit of one TX and one RX.
class KitOfTwo : public Kit {
protected:
    KitOfTwo() { rx = {"rx1"}; }
    // A laptop on the USB Ethernet adapter of the RX (the world's down() checks it is gone too).
    std::string laptop(const std::string& cmd) {
        return capture_output("ip netns exec hdx-" + name + "-rx1-laptop timeout 30 " + cmd + " 2>&1");
    }
};

// The laptop plays the kit's stream over RTSP with FFmpeg.
TEST_F(KitOfTwo, LaptopPlaysTheReceivedStreamOverRtsp) {
    ASSERT_NO_FATAL_FAILURE(stream(60));

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

// The browser front panel of a kit, in Debian's headless Chromium (tests/browser/web_panel.mjs):
// MENU held on the page opens the TX's menu, a source plugged from the page re-times the RX.
// HDEXT_PANEL_SCREENSHOT names where the page's screenshot goes (the README's picture).
TEST_F(KitOfTwo, BrowserPanelHoldsMenuAndPlugsASource) {
    const std::string driver = source_dir() + "/tests/browser/web_panel.mjs";
    ASSERT_TRUE(std::filesystem::exists(source_dir() + "/tests/browser/node_modules/playwright-core"))
        << "run scripts/install-deps.sh (npm ci in tests/browser)";
    ASSERT_TRUE(std::filesystem::exists("/usr/bin/chromium")) << "run scripts/install-deps.sh (chromium)";
    ASSERT_NO_FATAL_FAILURE(stream(30));

    ChildProcess panel(board, {}, dir + "/panel.log", {"world", "panel", name, "--port", "0"});
    ASSERT_TRUE(panel.wait_for_output("/\n")) << panel.output();
    const std::string out = panel.output();
    const std::string url = out.substr(out.find("http://"), out.find("/\n") + 1 - out.find("http://"));
    const char* shot = std::getenv("HDEXT_PANEL_SCREENSHOT");
    ChildProcess browser("/usr/bin/node", {}, dir + "/browser.log",
                         {driver, url, shot ? shot : dir + "/browser-panel.png"});
    const int st = browser.wait_exit(300);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << browser.output() << panel.output();
    std::printf("%s", browser.output().c_str());
    // What the page showed came from the units themselves.
    EXPECT_NE(procs["tx"]->output().find("====app_widget_on====1, 0"), std::string::npos) << procs["tx"]->output();
    EXPECT_EQ(status("rx1", "timing"), "10");
}

} // namespace
} // namespace hdext::test
