// Kits in the simulated air running the real program: every RX output shows the TX's source
// with a latency figure and follows its format, and a laptop on an RX's USB Ethernet adapter
// plays the stream over RTSP; every RX shows video again by itself after the TX or an RX
// restarts or the air is cut, without holding more than before.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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
        return capture_output("ip netns exec hdx-" + world.name + "-rx1-laptop timeout 30 " + tool +
                              " rtsp://192.168.0.1:8554/live " + after_input + " 2>&1", status);
    };
    std::string probe;
    ASSERT_TRUE(wait([&] {
        probe = laptop("ffprobe -v error -rtsp_transport tcp -show_entries stream=codec_name,sample_rate,channels -of compact");
        return probe.find("codec_name=h264") != std::string::npos;
    }, 60s)) << probe << logs();
    EXPECT_NE(probe.find("codec_name=pcm_alaw|sample_rate=44100|channels=1"), std::string::npos) << probe;
    const auto before = world.shown_now();
    for (const char* transport : {"tcp", "udp"}) {
        const std::string out =
            laptop(std::string("ffmpeg -nostdin -v error -rtsp_transport ") + transport + " -i", "-t 3 -f null -", &st);
        EXPECT_EQ(st, 0) << transport << ": " << out;
        EXPECT_EQ(out.find("rror"), std::string::npos) << transport << ": " << out;
    }
    EXPECT_TRUE(world.all_showing(before));
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
    for (const char* unit : {"rx1", "tx"}) {
        ASSERT_TRUE(world.fault(unit, "cut"));
        std::this_thread::sleep_for(kCut);
        ASSERT_NO_FATAL_FAILURE(recovers(unit, "restore"));
    }
    ASSERT_NO_FATAL_FAILURE(recovers("rx2", "restart"));
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

} // namespace
} // namespace hdext::test
