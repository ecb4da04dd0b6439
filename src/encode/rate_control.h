// The bit rate of the TX's one encoder, following what its receivers' links carry. One encoder
// serves every receiver, so its rate follows the slowest linked one: down at once when it falls
// behind (by a fixed share at least, lower when its link carried less lately), back up slowly once
// every receiver keeps up, never above the configured step and never below a floor. Under the floor a
// receiver whose link carries even less is served by its own drops instead of lowering the
// picture of all further. A lower rate never adds latency for the others: each has its own list
// and socket, and smaller pictures only cross faster.
// Decisions only: the caller passes the time and the receivers' state; one thread.
#pragma once
#include <cstdint>
#include <span>

namespace hdext::encode {

// One linked receiver as the stream thread sees it.
struct LinkState {
    int id = 0;                // stable while it is linked (its list), 0..2
    int64_t wait_us = 0;       // age of the oldest picture waiting for it
    uint32_t late_drops = 0;   // pictures dropped for it since it linked
    int64_t take_kbps = 0;     // video it took lately: while it is behind, what its link carries
                               // (0 unknown)
};

struct RatePolicy {
    int floor_kbps = 512;
    int64_t behind_us = 60000; // a receiver waiting longer falls behind (the drop budget is 100)
    int64_t behind_hold_us = 100000; // behind this long (or a drop): not a passing burst
    int64_t calm_us = 30000;   // every receiver waiting less keeps up
    int64_t down_hold_us = 250000;  // a step down takes effect within a few pictures
    int64_t climb_hold_us = 1000000;
    int64_t forget_us = 8000000;    // calm this long: the rate that failed is forgotten
    double down = 0.7;         // the least step down
    double headroom = 0.85;    // share of what the link carried that the video may take
    double climb_fast = 1.25;  // well below the rate that last failed
    double climb_near = 1.08;  // near it
};

class RateStepper {
public:
    explicit RateStepper(RatePolicy p = {}) : m_p(p) {}

    // One look at the linked receivers at now: the rate to encode at, kbit/s.
    int Step(int64_t now_us, int ceiling_kbps, std::span<const LinkState> links);
    int Rate() const { return m_rate; }

private:
    void Set(int kbps, int64_t now_us);

    RatePolicy m_p;
    int m_rate = 0;
    int m_trouble = 0;           // the rate at which a receiver last fell behind; 0 none
    int64_t m_changed = INT64_MIN / 2;
    int64_t m_calmSince = 0;
    int64_t m_behindSince = -1;  // -1 while none is behind
    uint32_t m_drops[3] = {};
    bool m_linked[3] = {};
};

} // namespace hdext::encode
