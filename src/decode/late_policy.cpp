#include "decode/late_policy.h"

#include <algorithm>
#include <limits>

namespace hdext::decode {

namespace {
constexpr int64_t kNone = std::numeric_limits<int64_t>::max();
}

LatePolicy::LatePolicy(const LateBudgets& budgets, NowFn now)
    : m_budgets(budgets), m_now(now), m_allow(budgets.picture.count()) {
    forget();
}

void LatePolicy::forget() {
    std::fill(std::begin(m_slotMin), std::end(m_slotMin), kNone);
    m_started = false;
}

// The window is kSlots slots, each keeping the lowest value seen in it; a slot is cleared as
// the window moves past it. Constant work per picture.
int64_t LatePolicy::lowest_transit(uint64_t now, int64_t transit) {
    const uint64_t slot_len = std::max<uint64_t>(1, static_cast<uint64_t>(m_budgets.window.count()) / kSlots);
    const uint64_t slot = now / slot_len;
    if (slot > m_slot) {
        const uint64_t passed = std::min<uint64_t>(slot - m_slot, kSlots);
        for (uint64_t i = 1; i <= passed; ++i) m_slotMin[(m_slot + i) % kSlots] = kNone;
        m_slot = slot;
    }
    int64_t& cur = m_slotMin[m_slot % kSlots];
    cur = std::min(cur, transit);
    return *std::min_element(std::begin(m_slotMin), std::end(m_slotMin));
}

void LatePolicy::need_idr() {
    m_waitIdr = true;
    m_waitForLate = false;
}

LatePolicy::Verdict LatePolicy::judge(uint64_t pts, bool idr, uint32_t stream) {
    const uint64_t now = m_now();
    if (!m_started || stream != m_stream) {
        // Another connection: another time base (a restarted TX), and the decoder's references
        // belong to the old stream.
        forget();
        need_idr();
    } else if (pts < m_lastPts) {
        forget(); // the TX's time base moved under the same connection
    }
    m_started = true;
    m_stream = stream;
    m_lastPts = pts;
    const int64_t transit = static_cast<int64_t>(now - pts);
    const int64_t late = transit - lowest_transit(now, transit);
    const int64_t budget = m_budgets.picture.count();
    const int64_t resume = m_budgets.resume.count();

    if (m_waitIdr && !idr) {
        if (m_waitForLate) ++m_lateDrops;
        return Verdict::wait_idr;
    }
    if (late > (idr ? resume : m_allow)) {
        m_waitIdr = true;
        m_waitForLate = true;
        ++m_lateDrops;
        return Verdict::late;
    }
    if (idr) m_allow = std::max(budget, late);   // a new run starts here
    else if (late <= budget) m_allow = budget;   // this run has caught up
    m_waitIdr = false;
    return Verdict::feed;
}

} // namespace hdext::decode
