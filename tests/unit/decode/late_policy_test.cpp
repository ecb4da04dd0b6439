// The RX's lateness decisions on a fake clock: pictures 60 a second whose stamps run on the
// TX's clock (an hour ahead of ours), delayed on their way as a test says.
#include <gtest/gtest.h>

#include "decode/late_policy.h"

namespace hdext::decode {
namespace {

using V = LatePolicy::Verdict;
constexpr uint64_t kMs = 1000;

uint64_t g_now = 0;
uint64_t fake_now() { return g_now; }

class LateTest : public ::testing::Test {
protected:
    // The next picture, captured 1/60 s after the previous one and fed `delay_ms` after the
    // quickest way here.
    V next(bool idr, uint64_t delay_ms, uint32_t stream = 1) {
        captured += 16667;
        g_now = captured + delay_ms * kMs;
        return policy.judge(captured + tx_ahead, idr, stream);
    }
    uint64_t captured = 5000 * kMs;
    uint64_t tx_ahead = 3600000 * kMs; // the TX's clock against ours
    LatePolicy policy{LateBudgets{}, fake_now};
};

TEST_F(LateTest, OnTimePicturesPassAndALateOneSkipsToTheNextIdrPicture) {
    EXPECT_EQ(next(false, 0), V::wait_idr) << "a stream starts at an IDR picture";
    EXPECT_EQ(next(true, 30), V::feed);
    for (uint64_t delay : {0, 100, 150, 20}) EXPECT_EQ(next(false, delay), V::feed) << delay;
    EXPECT_EQ(policy.late_drops(), 0u);

    EXPECT_EQ(next(false, 151), V::late);
    EXPECT_EQ(next(false, 0), V::wait_idr) << "its reference is gone";
    EXPECT_EQ(next(false, 0), V::wait_idr);
    EXPECT_EQ(next(true, 5), V::feed);
    EXPECT_EQ(next(false, 5), V::feed);
    EXPECT_EQ(policy.late_drops(), 3u);

    // A decoder that lost its references waits for an IDR picture too, but that is no lateness.
    policy.need_idr();
    EXPECT_EQ(next(false, 0), V::wait_idr);
    EXPECT_EQ(next(true, 0), V::feed);
    EXPECT_EQ(policy.late_drops(), 3u);
}

TEST_F(LateTest, AResumingIdrPictureMayBeLaterAndItsRunAsLateUntilItCatchesUp) {
    next(true, 0);
    EXPECT_EQ(next(false, 400), V::late);
    EXPECT_EQ(next(true, 231), V::late) << "later than the resume budget";
    EXPECT_EQ(next(false, 200), V::wait_idr);
    EXPECT_EQ(next(true, 220), V::feed);
    EXPECT_EQ(next(false, 215), V::feed) << "no later than the picture it resumed at";
    EXPECT_EQ(next(false, 221), V::late);
    EXPECT_EQ(next(true, 200), V::feed);
    EXPECT_EQ(next(false, 100), V::feed) << "caught up: the usual budget again";
    EXPECT_EQ(next(false, 160), V::late);
    EXPECT_EQ(policy.late_drops(), 5u);
    // An IDR picture within the resume budget is shown in a running stream too.
    next(true, 0);
    EXPECT_EQ(next(true, 200), V::feed);
}

TEST_F(LateTest, ANewConnectionOrATimeBaseMovingBackStartsAfreshAndOldLowsAreForgotten) {
    next(true, 0);
    // A restarted TX: another time base, and another decoder state.
    tx_ahead = 7200000 * kMs;
    EXPECT_EQ(next(false, 0, 2), V::wait_idr);
    EXPECT_EQ(next(true, 0, 2), V::feed);
    EXPECT_EQ(next(false, 20, 2), V::feed);
    // The stamps jump back 10 s under the same connection: not taken for 10 s of lateness.
    tx_ahead -= 10000 * kMs;
    EXPECT_EQ(next(false, 0, 2), V::feed);
    EXPECT_EQ(policy.late_drops(), 0u);

    // The way here becomes 300 ms longer for good: late until the window has forgotten the
    // shorter way, then on time again.
    EXPECT_EQ(next(false, 300, 2), V::late);
    int skipped = 0;
    while (next(true, 300, 2) != V::feed) ASSERT_LT(++skipped, 700) << "never forgotten";
    EXPECT_GE(skipped * 16667, 8750000) << "forgotten within the window";
    EXPECT_EQ(next(false, 310, 2), V::feed);
}

} // namespace
} // namespace hdext::decode
