// Whether a picture about to be decoded is still live. The TX's and the RX's clocks need not
// agree, so lateness comes from the stream itself: the time from a picture's stamp to its feed
// (clock offset plus transit), against the lowest such value seen over the last seconds.
// A late picture is dropped and decoding resumes at the next IDR picture, since a P picture
// whose reference is gone cannot be shown whole. Feeding thread only.
#pragma once
#include <chrono>
#include <cstdint>

#include "core/frame.h"

namespace hdext::decode {

struct LateBudgets {
    // A picture later than this is dropped. Above what the TX lets a picture wait for a
    // receiver, so the RX drops what the TX cannot see (a stalled air, the kernel's queues):
    // the RX cannot ask for an IDR picture, so each of its drops may freeze the picture until
    // the TX sends one.
    std::chrono::microseconds picture{150000};
    // The IDR picture that ends a skip may be this late; the pictures that follow it may be as
    // late as it was until they are back under `picture`. (A dip makes IDR pictures, the
    // largest, the latest: refusing each in turn would freeze the picture for the whole dip.)
    std::chrono::microseconds resume{230000};
    // How long the lowest stamp-to-feed time is remembered.
    std::chrono::microseconds window{10000000};
};

class LatePolicy {
public:
    using NowFn = uint64_t (*)(); // monotonic microseconds

    explicit LatePolicy(const LateBudgets& budgets = {}, NowFn now = frame_now_us);

    enum class Verdict { feed, late, wait_idr };
    // One picture: its stamp, whether it is an IDR picture, and the stream connection it came
    // on (another connection is another time base and another decoder state). `late` counts as
    // a drop for lateness, as does `wait_idr` after one; see late_drops().
    Verdict judge(uint64_t pts, bool idr, uint32_t stream);
    // The decoder lost its references (its channel was reset): the next picture fed is an IDR.
    void need_idr();
    // Pictures dropped for lateness so far (late ones and the P pictures that followed them).
    uint64_t late_drops() const { return m_lateDrops; }

private:
    static constexpr int kSlots = 8;
    int64_t lowest_transit(uint64_t now, int64_t transit);
    void forget();

    LateBudgets m_budgets;
    NowFn m_now;
    int64_t m_slotMin[kSlots];
    uint64_t m_slot = 0;       // index of the newest slot (time / slot length)
    uint32_t m_stream = 0;
    bool m_started = false;    // a picture of m_stream was seen
    uint64_t m_lastPts = 0;
    bool m_waitIdr = true;
    bool m_waitForLate = false; // the wait began with a late picture
    int64_t m_allow = 0;        // lateness the current run may reach
    uint64_t m_lateDrops = 0;
};

} // namespace hdext::decode
