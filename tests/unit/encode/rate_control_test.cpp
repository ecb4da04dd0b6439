// The encoder's bit-rate stepping on a fake clock: down fast after the slowest receiver, back up
// slowly, between the floor and the configured step.
#include <gtest/gtest.h>

#include <vector>

#include "encode/rate_control.h"

using hdext::encode::LinkState;
using hdext::encode::RateStepper;

namespace {

constexpr int64_t kMs = 1000;
constexpr int kCeiling = 12288;

LinkState keeping_up(int id) { return {id, 5 * kMs, 0, 0}; }
LinkState behind(int id, int64_t take_kbps = 0, uint32_t drops = 0) { return {id, 80 * kMs, drops, take_kbps}; }

struct Stepper : ::testing::Test {
    RateStepper r;
    int64_t now = 0;
    // Looks every 20 ms for `ms` with the same receivers; the rates it set, in order.
    std::vector<int> run(int64_t ms, std::vector<LinkState> links) {
        std::vector<int> set;
        for (int64_t end = now + ms * kMs; now < end; now += 20 * kMs) {
            const int before = r.Rate();
            if (r.Step(now, kCeiling, links) != before && before != 0) set.push_back(r.Rate());
        }
        return set;
    }
};

TEST_F(Stepper, FollowsTheSlowestMeasuredLinkDownAtOnceAndClimbsBackCarefullyNearIt) {
    EXPECT_TRUE(run(100, {keeping_up(0), keeping_up(1)}).empty());
    EXPECT_EQ(r.Rate(), kCeiling);
    // Behind for a moment: receiver 1's link carried 4000 kbit/s of video, receiver 2's 6000;
    // one step, to the slower one's with headroom, held while it takes effect.
    EXPECT_EQ(run(240, {keeping_up(0), behind(1, 4000), behind(2, 6000)}), (std::vector<int>{3400}));
    EXPECT_TRUE(run(900, {keeping_up(0), keeping_up(1), keeping_up(2)}).empty());
    // Calm for a second: up by 8 % near the rate that failed (12288), quicker once far from it.
    const std::vector<int> up = run(8000, {keeping_up(0), keeping_up(1)});
    ASSERT_GE(up.size(), 6u);
    EXPECT_EQ(up[0], 4250) << "a quarter up, far below the rate that failed";
    EXPECT_EQ(up[1], 5312);
    EXPECT_EQ(up[2], 6640);
    EXPECT_EQ(up[3], 8300);
    EXPECT_EQ(up[4], 10375);
    EXPECT_EQ(up[5], 11205) << "near it: 8 %";
    EXPECT_EQ(up.back(), kCeiling) << "never above the configured step";
}

TEST_F(Stepper, WithoutAMeasureStepsByAShareDownToTheFloorAndBurstsAloneDoNotStep) {
    // Late although its link carried more than the rate (a key picture's burst): no step.
    EXPECT_TRUE(run(500, {behind(0, 20000)}).empty());
    // A drop though is a step, down by 30 % every 250 ms while nothing was measured.
    EXPECT_EQ(run(20, {behind(0, 20000, 1)}), (std::vector<int>{8601}));
    const std::vector<int> down = run(2300, {behind(0)});
    ASSERT_GE(down.size(), 6u);
    EXPECT_EQ(down[0], 6020);
    EXPECT_EQ(down.back(), 512) << "the floor: below it a receiver is served by drops";
    // Every receiver gone: the next starts at the configured step; a lower step lowers the rate.
    EXPECT_EQ(run(20, {}), (std::vector<int>{kCeiling}));
    EXPECT_EQ(r.Step(now, 6144, std::vector<LinkState>{keeping_up(0)}), 6144);
}

} // namespace
