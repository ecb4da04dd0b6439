// Kits in the simulated air running the real program: every RX output shows the TX's source
// with a latency figure and follows its format, and a laptop on an RX's USB Ethernet adapter
// plays the stream over RTSP; every RX shows video again by itself after the TX or an RX
// restarts or the air is cut, without holding more than before; a browser drives the kit's
// front panel.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/world.h"

namespace hdext::test {
namespace {

using namespace std::chrono_literals;

// Statuses and the world are read every 100 ms: the kit's processes need the cores.
template <class P>
bool wait(P pred, std::chrono::seconds guard = 180s) {
    return wait_until(pred, guard, 100ms);
}

class Kit : public ::testing::Test {
protected:
    explicit Kit(size_t rx = 3) : m_rx(rx) {}
    void SetUp() override { ASSERT_EQ(world.up("kit" + std::to_string(getpid()), m_rx), ""); }
    void TearDown() override { EXPECT_TRUE(world.down()) << "something of the world was left behind"; }

    // The TX, then every RX with the TX's network, and the source: until every RX shows it.
    void stream(const std::string& source) {
        ASSERT_TRUE(world.start("tx"));
        ASSERT_TRUE(world.start_receivers()) << tail(world.log("tx"));
        ASSERT_TRUE(world.plug(source));
        ASSERT_TRUE(wait([&] { return world.all_showing(); })) << logs();
    }
    std::string logs() const {
        std::string s = "--- tx\n" + tail(world.log("tx"));
        for (const auto& u : world.rx) s += "--- " + u + "\n" + tail(world.log(u));
        return s;
    }

    World world;

private:
    size_t m_rx;
};

// A laptop on RX 1's USB Ethernet adapter plays the re-stream with FFmpeg, while HDMI plays on.
TEST_F(Kit, ThreeReceiversShowTheSourceFollowItsFormatAndRestreamItToALaptop) {
    ASSERT_NO_FATAL_FAILURE(stream("1920x1080p60 audio=48000"));
    for (const auto& u : world.rx) {
        EXPECT_EQ(world.status(u, "timing"), "23") << u;
        EXPECT_GT(std::atol(world.status(u, "latency_p50_us").c_str()), 0) << u;
        std::printf("figure: %s shown %ld, gaps %s, glass-to-glass p50 %s us, p99 %s us\n", u.c_str(),
                    world.shown(u), world.status(u, "gaps").c_str(), world.status(u, "latency_p50_us").c_str(),
                    world.status(u, "latency_p99_us").c_str());
    }
    std::fflush(stdout);  // before the next child is forked

    ASSERT_TRUE(world.plug("1280x720p60 audio=48000"));
    EXPECT_TRUE(wait([&] {
        for (const auto& u : world.rx)
            if (world.status(u, "timing") != "10" || world.status(u, "source") != "video") return false;
        return true;
    })) << logs();

    int st = -1;
    world.cmd("usb ethernet plug rx1 --world " + world.name, &st);
    ASSERT_EQ(st, 0);
    ASSERT_TRUE(wait([&] { return read_file(world.dir + "/rx1/sim/laptop-address").rfind("192.168.0.", 0) == 0; }))
        << logs();
    auto laptop = [&](const std::string& tool, const std::string& after_input = "", int* status = nullptr) {
        return capture_output("ip netns exec hdx-" + world.name + "-rx1-laptop timeout 90 " + tool +
                              " rtsp://192.168.0.1:8554/live " + after_input + " 2>&1", status);
    };
    std::string probe;
    ASSERT_TRUE(wait([&] {
        probe = laptop("ffprobe -v error -rtsp_transport tcp -show_entries stream=codec_name,sample_rate,channels -of compact");
        return probe.find("codec_name=h264") != std::string::npos;
    }, 60s)) << probe << logs();
    EXPECT_NE(probe.find("codec_name=pcm_alaw|sample_rate=44100|channels=1"), std::string::npos) << probe;
    // Each key picture arrives as one picture: nothing concealed, no time stamp twice (counted
    // in the stream's own time base: arrival jitter may put two pictures into one 1/60 s).
    const auto before = world.shown_now();
    for (const char* transport : {"tcp", "udp"}) {
        const std::string out = laptop(std::string("ffmpeg -nostdin -nostats -v info -rtsp_transport ") + transport +
                                           " -i", "-t 4 -enc_time_base:v -1 -f null -", &st);
        EXPECT_EQ(st, 0) << transport << ": " << out;
        for (const char* bad : {"rror", "conceal", "onoton"})
            EXPECT_EQ(out.find(bad), std::string::npos) << transport << ", " << bad << ": " << out;
    }
    std::string counts;
    for (const auto& u : world.rx)
        counts += u + " shown " + std::to_string(before.at(u)) + " -> " + std::to_string(world.shown(u)) +
                  ", late drops " + world.status(u, "late_drops") + "\n";
    EXPECT_TRUE(world.all_showing(before)) << counts << logs();
}

class KitFaults : public Kit {
protected:
    KitFaults() : Kit(2) {}
    // Makes a fault and waits until every RX shows video again.
    void recovers(const std::string& unit, const std::string& what) {
        ASSERT_TRUE(world.fault(unit, what)) << unit << " " << what;
        const auto from = world.shown_now();
        ASSERT_TRUE(wait([&] { return world.all_showing(from); })) << "after " << unit << " " << what << "\n" << logs();
    }
    // Descriptors and threads of every unit's program, now.
    std::map<std::string, UnitStats> held() const {
        std::map<std::string, UnitStats> s{{"tx", world.stats("tx")}};
        for (const auto& u : world.rx) s[u] = world.stats(u);
        return s;
    }
};

// The TX restarts with its source left plugged; the air is cut under an RX and under the TX for
// longer than a heartbeat's interval (the cut is the fault itself, not a wait for something).
TEST_F(KitFaults, EveryReceiverShowsVideoAgainAfterRestartsAndAirCutsHoldingNoMore) {
    constexpr auto kCut = 3s;
    ASSERT_NO_FATAL_FAILURE(stream("1280x720p60 audio=48000"));
    const auto before = held();
    for (int i = 0; i < 2; ++i) ASSERT_NO_FATAL_FAILURE(recovers("tx", "restart"));
    // Each start ended what the run before left: one DHCP server, one access point (a second
    // hostapd the watch may start meanwhile finds the first one and ends by itself).
    auto one_each = [&](const std::string& ps) { return count_lines(ps, "udhcpd") == 1 && count_lines(ps, "hostapd") == 1; };
    EXPECT_TRUE(wait([&] { return one_each(world.ps("tx")); }, 30s)) << world.ps("tx");
    for (const char* unit : {"rx1", "tx"}) {
        ASSERT_TRUE(world.fault(unit, "cut"));
        std::this_thread::sleep_for(kCut);
        ASSERT_NO_FATAL_FAILURE(recovers(unit, "restore"));
    }
    ASSERT_NO_FATAL_FAILURE(recovers("rx2", "restart"));
    // The restarted RX links once, after its own link start: not first on the address its
    // previous run left, only to be cut off when its station starts anew.
    auto since_restart = [&] {
        const std::string log = world.log("rx2");
        return log.substr(log.rfind("main pid="));
    };
    ASSERT_TRUE(wait([&] { return count_lines(since_restart(), "AddRT") == 1; })) << tail(since_restart());
    ASSERT_TRUE(wait([&] { return world.all_showing(); })) << logs();
    EXPECT_EQ(count_lines(since_restart(), "connect success"), 1u) << tail(since_restart());
    // Whatever the faults left behind ends within a receive time-out.
    std::map<std::string, UnitStats> after;
    EXPECT_TRUE(wait([&] {
        after = held();
        for (const auto& [u, b] : before)
            if (after[u].fds > b.fds + 4 || after[u].threads > b.threads + 4) return false;
        return true;
    }, 60s));
    for (const auto& [u, b] : before)
        std::printf("figure: %s descriptors %d -> %d, threads %d -> %d, RSS %ld -> %ld kB\n", u.c_str(), b.fds,
                    after[u].fds, b.threads, after[u].threads, b.rss_kb, after[u].rss_kb);
}

// The kit's browser front panel in Debian's headless Chromium (tests/browser/web_panel.mjs): MENU
// held on the page opens the TX's menu, a source plugged from the page re-times the RX.
// HDEXT_PANEL_SCREENSHOT names where the page's screenshot goes (the README's picture).
class KitPanel : public Kit {
protected:
    KitPanel() : Kit(1) {}
};

TEST_F(KitPanel, BrowserHoldsMenuAndPlugsASource) {
    const std::string browser_dir = source_dir() + "/tests/browser";
    ASSERT_TRUE(std::filesystem::exists(browser_dir + "/node_modules/playwright-core") &&
                std::filesystem::exists("/usr/bin/chromium"))
        << "run scripts/install-deps.sh (chromium, npm ci in tests/browser)";
    ASSERT_NO_FATAL_FAILURE(stream("1920x1080p60 audio=48000"));
    ChildProcess panel(world.board, {}, world.dir + "/panel.log", {"world", "panel", world.name, "--port", "0"});
    ASSERT_TRUE(panel.wait_for_output("/\n")) << panel.output();
    const std::string out = panel.output(), url = out.substr(out.find("http://"), out.find("/\n") + 1 - out.find("http://"));
    const char* shot = std::getenv("HDEXT_PANEL_SCREENSHOT");
    ChildProcess browser("/usr/bin/node", {}, world.dir + "/browser.log",
                         {browser_dir + "/web_panel.mjs", url, shot ? shot : world.dir + "/browser-panel.png"});
    const int st = browser.wait_exit(300);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << browser.output() << panel.output();
    std::printf("%s", browser.output().c_str());
    // What the page showed came from the units themselves.
    EXPECT_EQ(count_lines(world.log("tx"), "====app_widget_on====1, 0"), 1u) << tail(world.log("tx"));
    EXPECT_EQ(world.status("rx1", "timing"), "10");
}

} // namespace
} // namespace hdext::test
