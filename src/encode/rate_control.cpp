#include "encode/rate_control.h"

#include <algorithm>

namespace hdext::encode {

void RateStepper::Set(int kbps, int64_t now_us) {
    m_rate = kbps;
    m_changed = now_us;
}

int RateStepper::Step(int64_t now_us, int ceiling_kbps, std::span<const LinkState> links) {
    const int floor = std::min(m_p.floor_kbps, ceiling_kbps);
    if (m_rate == 0 || m_rate > ceiling_kbps) m_rate = ceiling_kbps;
    bool seen[3] = {};
    bool behind = false, calm = true, dropped_any = false;
    int64_t take = 0; // the least taken among those behind
    for (const LinkState& l : links) {
        const int id = std::clamp(l.id, 0, 2);
        seen[id] = true;
        // Drops count only once a receiver has been seen (its count starts with its link).
        const bool dropped = m_linked[id] && l.late_drops != m_drops[id];
        m_drops[id] = l.late_drops;
        m_linked[id] = true;
        if (l.wait_us > m_p.behind_us || dropped) {
            behind = true;
            dropped_any = dropped_any || dropped;
            if (l.take_kbps > 0 && (take == 0 || l.take_kbps < take)) take = l.take_kbps;
        }
        if (l.wait_us > m_p.calm_us || dropped) calm = false;
    }
    for (int id = 0; id < 3; ++id)
        if (!seen[id]) m_linked[id] = false;
    if (links.empty()) {
        // Nobody to keep up with: the next receiver starts at the configured step.
        m_trouble = 0;
        m_calmSince = now_us;
        if (m_rate != ceiling_kbps) Set(ceiling_kbps, now_us);
        return m_rate;
    }
    if (!calm) m_calmSince = now_us;
    if (!behind) m_behindSince = -1;
    else if (m_behindSince < 0) m_behindSince = now_us;
    if (behind) {
        if (now_us - m_changed < m_p.down_hold_us) return m_rate; // the last step is still arriving
        // A passing burst (a key picture, a busy moment) or a link that carried more than the
        // rate: the drops deal with it, the picture of all keeps its quality.
        const auto fit = static_cast<int64_t>(static_cast<double>(take) * m_p.headroom);
        if (!dropped_any && (now_us - m_behindSince < m_p.behind_hold_us || fit >= m_rate)) return m_rate;
        // At least a share down: what a link carried lately may still count from before a dip.
        int64_t target = static_cast<int64_t>(m_rate * m_p.down);
        if (fit > 0) target = std::min(target, fit);
        m_trouble = m_rate;
        Set(static_cast<int>(std::max<int64_t>(floor, target)), now_us);
        return m_rate;
    }
    if (calm && m_rate < ceiling_kbps && now_us - m_calmSince >= m_p.climb_hold_us &&
        now_us - m_changed >= m_p.climb_hold_us) {
        if (m_trouble && now_us - m_calmSince >= m_p.forget_us) m_trouble = 0;
        // Quickly back towards the rate that failed, carefully near it.
        const double f = m_trouble && m_rate >= m_trouble * 0.75 ? m_p.climb_near : m_p.climb_fast;
        const auto up = std::max<int64_t>(m_rate + 1, static_cast<int64_t>(m_rate * f));
        Set(static_cast<int>(std::min<int64_t>(ceiling_kbps, up)), now_us);
    }
    return m_rate;
}

} // namespace hdext::encode
