// A receiver's air dips to 30% of the stream's own rate for 5 s: whatever it shows during and
// after the dip is live (no picture more than 250 ms after its capture), and video goes on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "sim/board/kit_timeline.h"
#include "support/world.h"

namespace hdext::test {
namespace {

using namespace std::chrono_literals;
using hdext::sim::monotonic_us;

constexpr uint64_t kBudgetUs = 250000;

TEST(KitDip, ReceiverWhoseAirDipsShowsNoPictureLateAndGoesOn) {
    World world;
    struct Down {
        World& w;
        ~Down() { EXPECT_TRUE(w.down()) << "something of the world was left behind"; }
    } down{world};
    ASSERT_EQ(world.up("dip" + std::to_string(getpid()), 1), "");
    auto logs = [&] { return "--- tx\n" + tail(world.log("tx")) + "--- rx1\n" + tail(world.log("rx1")); };
    ASSERT_TRUE(world.start("tx"));
    ASSERT_TRUE(world.start_receivers()) << logs();
    ASSERT_TRUE(world.plug("1920x1080p60 audio=48000"));
    ASSERT_TRUE(wait_until([&] { return world.all_showing(); }, 180s, 100ms)) << logs();

    // The stream's own rate on the receiver's air, then the dip (the wait is the fault itself).
    const uint64_t b0 = world.air_bytes("rx1", "rx"), t0 = monotonic_us();
    std::this_thread::sleep_for(3s);
    const long kbit = static_cast<long>((world.air_bytes("rx1", "rx") - b0) * 8 / ((monotonic_us() - t0) / 1000));
    ASSERT_GT(kbit, 500) << "the stream's rate on rx1's air";
    const uint64_t from = monotonic_us();
    ASSERT_TRUE(world.fault("rx1", "rate " + std::to_string(kbit * 3 / 10)));
    std::this_thread::sleep_for(5s);
    ASSERT_TRUE(world.fault("rx1", "rate 0"));
    const uint64_t to = monotonic_us();

    const auto shown = world.shown_now();
    EXPECT_TRUE(wait_until([&] { return world.all_showing(shown); }, 60s, 100ms)) << "video after the dip\n" << logs();
    std::vector<hdext::sim::Shown> pics;
    ASSERT_TRUE(wait_until([&] {
        pics = hdext::sim::load_timeline(world.dir + "/rx1", from, monotonic_us());
        return !pics.empty() && pics.back().shown_us > to + 3000000;
    }, 60s, 100ms)) << "rx1's timeline";
    const auto during = hdext::sim::timeline_figures(pics, from, to);
    const auto after = hdext::sim::timeline_figures(pics, to + 1000000, pics.back().shown_us);
    const auto all = hdext::sim::timeline_figures(pics, from, pics.back().shown_us);
    std::printf("figure: stream %ld kbit/s, dip to %ld; during: %zu shown, p99 %.1f ms, longest freeze %.2f s, "
                "%lld missing; from 1 s after: %zu shown, p99 %.1f ms; oldest %.1f ms\n",
                kbit, kbit * 3 / 10, during.shown, static_cast<double>(during.p99_us) / 1e3,
                static_cast<double>(during.longest_pause_us) / 1e6, static_cast<long long>(during.missing), after.shown,
                static_cast<double>(after.p99_us) / 1e3, static_cast<double>(all.max_us) / 1e3);
    EXPECT_LT(all.max_us, kBudgetUs) << "the oldest picture shown from the dip's start on";
    EXPECT_GT(after.shown, 60u) << "video after the dip";
}

} // namespace
} // namespace hdext::test
