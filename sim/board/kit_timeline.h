// Timelines of a kit's receivers: every picture an RX showed (its HDMI output's timeline file,
// "<shown_us> <frame_no> <latency_us>" lines) with the drops and the TX's bit rate beside it;
// the figures the report and the soak judge them by, and an SVG plot of them. Times are
// CLOCK_MONOTONIC microseconds, the clock of the timeline file. Host side; no shared state.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hdext::sim {

struct Shown {
    uint64_t shown_us;
    int64_t frame;
    uint64_t latency_us;  // glass to glass
};
struct Sample {
    uint64_t t_us;
    int64_t value;
};

uint64_t monotonic_us();

// The timeline's lines shown within [from_us, to_us], in file order; other lines are skipped.
void parse_timeline(std::string_view text, uint64_t from_us, uint64_t to_us, std::vector<Shown>* out);
// An RX's timeline under its board root (sim/hdmi-out/timeline.1, then timeline). tail_bytes > 0
// reads only that much of the end of each file (a recent span of a long run).
std::vector<Shown> load_timeline(const std::string& board_root, uint64_t from_us, uint64_t to_us,
                                 size_t tail_bytes = 0);

struct TimelineFigures {
    size_t shown = 0;
    uint64_t p50_us = 0, p99_us = 0, max_us = 0;  // glass to glass
    int64_t missing = 0;                          // frame numbers skipped between two pictures
    uint64_t longest_pause_us = 0;                // longest time in [from, to] without a new picture
};
// Of the pictures shown within [from_us, to_us].
TimelineFigures timeline_figures(const std::vector<Shown>& pictures, uint64_t from_us, uint64_t to_us);

// Seconds after from_us from which the lag stays usual up to to_us: the start of the run of
// slice_us slices that runs on to to_us, each showing pictures whose median glass to glass is
// within limit_us (a lone late picture does not end the run; a slice without a picture does).
// -1 when that run is shorter than hold_us.
double seconds_until_steady(const std::vector<Shown>& pictures, uint64_t from_us, uint64_t to_us, uint64_t limit_us,
                            uint64_t hold_us, uint64_t slice_us);

// What one RX's plot shows.
struct RxTimeline {
    std::string unit;
    std::vector<Shown> pictures;
    std::vector<Sample> rx_late_drops;  // the RX program's counter, as sampled
    std::vector<Sample> tx_late_drops;  // the TX's counter for this RX's sender slot, as sampled
    std::vector<Sample> bitrate_kbps;   // the TX's encoder
};
// What a counter's samples add up to (a counter that restarts counts anew).
int64_t increase(const std::vector<Sample>& counter);

// An SVG picture of [from_us, to_us]: glass to glass of every picture (a line, broken where the
// output paused; at most two points per pixel column, so the worst picture stays visible),
// frames missing and late drops as marks under it, the TX's bit rate as a step line on its own
// scale, the 250 ms budget when the scale reaches it.
std::string timeline_svg(const RxTimeline& t, uint64_t from_us, uint64_t to_us);

// The figures of the units' status files that a timeline shows, sampled over time and kept
// for keep_us (0: all). Not thread-safe.
class KitSamples {
  public:
    using KeyValues = std::vector<std::pair<std::string, std::string>>;
    explicit KitSamples(uint64_t keep_us = 0) : m_keep_us(keep_us) {}
    // The TX's sim/capture/status: its bit rate, and the late drops of each sender slot by the
    // receiver's address.
    void tx(uint64_t t_us, const KeyValues& capture_status);
    // An RX's sim/hdmi-out/status; addr: its address on the air ("" when not known).
    void rx(uint64_t t_us, const std::string& unit, const std::string& addr, const KeyValues& output_status);
    // An RX's samples (no pictures: those come from its timeline file).
    RxTimeline series(const std::string& unit) const;
    const std::vector<Sample>& bitrate_kbps() const { return m_bitrate; }

  private:
    void add(std::vector<Sample>& to, uint64_t t_us, int64_t v);
    uint64_t m_keep_us;
    std::vector<Sample> m_bitrate;
    std::map<std::string, std::vector<Sample>> m_rx_late, m_tx_late;  // by unit, by address
    std::map<std::string, std::string> m_addr;                         // unit -> address
};

} // namespace hdext::sim
