// The RX's lateness decisions on a fake clock: pictures 60 a second stamped on the TX's clock,
// each fed the given milliseconds after the quickest way here.
#include <gtest/gtest.h>

#include "decode/late_policy.h"

namespace hdext::decode {
namespace {

using V = LatePolicy::Verdict;
uint64_t g_now = 0;

TEST(LatePolicy, SkipsToIdrPicturesStartsAfreshPerConnectionAndForgetsOldLows) {
    uint64_t captured = 5000000, tx_ahead = 3600000000; // the TX's clock an hour ahead
    LatePolicy policy{LateBudgets{}, [] { return g_now; }};
    auto next = [&](bool idr, uint64_t delay_ms, uint32_t stream = 1) {
        captured += 16667;
        g_now = captured + delay_ms * 1000;
        return policy.judge(captured + tx_ahead, idr, stream);
    };
    EXPECT_EQ(next(false, 0), V::wait_idr) << "a stream starts at an IDR picture";
    for (uint64_t delay : {30, 0, 150, 20}) EXPECT_EQ(next(delay == 30, delay), V::feed) << delay;
    EXPECT_EQ(next(false, 151), V::late);
    EXPECT_EQ(next(false, 0), V::wait_idr) << "its reference is gone";
    EXPECT_EQ(next(true, 231), V::late) << "later than the resume budget";
    EXPECT_EQ(next(true, 220), V::feed);
    EXPECT_EQ(next(false, 215), V::feed) << "no later than the picture it resumed at";
    EXPECT_EQ(next(false, 100), V::feed);
    EXPECT_EQ(next(false, 160), V::late) << "caught up: the usual budget again";
    policy.need_idr(); // a decoder without references waits too, but that is no lateness
    EXPECT_EQ(next(false, 0), V::wait_idr);
    EXPECT_EQ(next(true, 0), V::feed);
    EXPECT_EQ(policy.late_drops(), 4u);

    tx_ahead = 7200000000; // a restarted TX: another time base and another decoder state
    EXPECT_EQ(next(false, 0, 2), V::wait_idr);
    EXPECT_EQ(next(true, 0, 2), V::feed);
    tx_ahead -= 10000000;
    EXPECT_EQ(next(false, 0, 2), V::feed) << "stamps moving back are not 10 s of lateness";
    EXPECT_EQ(policy.late_drops(), 4u);
    // The way here becomes 300 ms longer for good: late until the window forgets the shorter.
    int skipped = 0;
    while (next(true, 300, 2) != V::feed) ASSERT_LT(++skipped, 700) << "never forgotten";
    EXPECT_GE(skipped * 16667, 8750000);
    EXPECT_EQ(next(false, 310, 2), V::feed);
}

} // namespace
} // namespace hdext::decode
