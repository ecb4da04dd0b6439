// The encoder's bit-rate stepping on a fake clock: down fast after the slowest receiver, back up
// slowly, between the floor and the configured step.
#include <gtest/gtest.h>

#include <vector>

#include "encode/rate_control.h"

using hdext::encode::LinkState;

namespace {

constexpr int64_t kMs = 1000;
constexpr int kCeiling = 12288;

LinkState calm(int id) { return {id, 5 * kMs, 0, 0}; }
LinkState behind(int id, int64_t take_kbps = 0, uint32_t drops = 0) { return {id, 80 * kMs, drops, take_kbps}; }

struct Stepper : ::testing::Test {
    hdext::encode::RateStepper r;
    int64_t now = 0;
    // Looks every 20 ms for `ms` with the same receivers: the rates set, in order.
    std::vector<int> run(int64_t ms, std::vector<LinkState> links) {
        std::vector<int> set;
        for (int64_t end = now + ms * kMs; now < end; now += 20 * kMs) {
            const int before = r.Rate();
            if (r.Step(now, kCeiling, links) != before && before != 0) set.push_back(r.Rate());
        }
        return set;
    }
};

TEST_F(Stepper, FollowsTheSlowestLinkDownAtOnceAndClimbsBackCarefullyNearTheRateThatFailed) {
    EXPECT_TRUE(run(100, {calm(0)}).empty());
    // Behind beyond a passing moment; links that carried 4000 and 6000 kbit/s of video lately:
    // one step, to the slower one with headroom, held while it takes effect.
    EXPECT_EQ(run(240, {calm(0), behind(1, 4000), behind(2, 6000)}), (std::vector<int>{3400}));
    EXPECT_TRUE(run(900, {calm(0), calm(1), calm(2)}).empty());
    // A second calm: a quarter up while far below the rate that failed, 8 % near it, until it
    // is forgotten; never above the configured step.
    EXPECT_EQ(run(8000, {calm(0)}), (std::vector<int>{4250, 5312, 6640, 8300, 10375, 11205, 12101, kCeiling}));
}

TEST_F(Stepper, BurstsAloneDoNotStepDropsDoAndTheFloorHolds) {
    EXPECT_TRUE(run(500, {behind(0, 20000)}).empty()) << "its link carried more than the rate";
    EXPECT_EQ(run(20, {behind(0, 20000, 1)}), (std::vector<int>{8601})) << "a drop: a share down";
    EXPECT_EQ(run(2300, {behind(0)}), (std::vector<int>{6020, 4214, 2949, 2064, 1444, 1010, 707, 512}));
    // Every receiver gone: the next starts at the configured step; a lower step lowers the rate.
    EXPECT_EQ(run(20, {}), (std::vector<int>{kCeiling}));
    EXPECT_EQ(r.Step(now, 6144, std::vector<LinkState>{calm(0)}), 6144);
}

} // namespace
