// The HDMI source plugged into a simulated TX, as described in sim/hdmi-in, with the
// line timing a real source of that format sends.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace hdext::sim {

struct HdmiTiming {
    uint32_t pixel_clock_hz = 0;
    uint32_t h_total = 0;  // pixels per line, blanking included
    uint32_t v_total = 0;  // lines per frame (progressive) or per field (interlaced)
    uint32_t width = 0;
    uint32_t height = 0;   // active lines per frame (progressive) or per field (interlaced)
    bool interlaced = false;
};

struct HdmiSource {
    HdmiTiming timing;
    int audio_rate = 0; // Hz; 0 = no audio
};

// Parses "none", or "WxH" + "p"/"i" + rate [+ ".94"/".97"...] then optionally
// "audio=RATE" / "audio=none". Returns nullopt for "none", an empty or unreadable text, a rate
// no HDMI source sends (iec60958_rate_code) and anything after the audio.
std::optional<HdmiSource> parse_hdmi_source(const std::string& text);

// The CEA-861 timing of a format where one exists; otherwise a plausible timing derived from
// the size and rate (blanking of about 15 %), so any describable format can be measured.
HdmiTiming hdmi_timing(uint32_t width, uint32_t height, bool interlaced, double rate);

// The IEC 60958 sampling-frequency code of a rate; 1 (not indicated) for none or unknown.
uint8_t iec60958_rate_code(int rate);

} // namespace hdext::sim
