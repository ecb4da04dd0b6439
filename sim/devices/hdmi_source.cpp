#include "sim/devices/hdmi_source.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace hdext::sim {
namespace {

struct CeaFormat {
    uint32_t width, height; // frame size
    bool interlaced;
    int rate;               // nominal frames (progressive) or fields (interlaced) per second
    uint32_t pixel_clock_hz, h_total, v_total_frame;
};

// CEA-861 timings at the integer rates; the 1000/1001 variants scale the pixel clock.
constexpr CeaFormat kCea[] = {
    {640, 480, false, 60, 25200000, 800, 525},
    {720, 480, false, 60, 27027000, 858, 525},
    {720, 576, false, 50, 27000000, 864, 625},
    {1280, 720, false, 60, 74250000, 1650, 750},
    {1280, 720, false, 50, 74250000, 1980, 750},
    {1280, 720, false, 30, 74250000, 3300, 750},
    {1280, 720, false, 25, 74250000, 3960, 750},
    {1280, 720, false, 24, 59400000, 3300, 750},
    {1920, 1080, false, 60, 148500000, 2200, 1125},
    {1920, 1080, false, 50, 148500000, 2640, 1125},
    {1920, 1080, false, 30, 74250000, 2200, 1125},
    {1920, 1080, false, 25, 74250000, 2640, 1125},
    {1920, 1080, false, 24, 74250000, 2750, 1125},
    {1920, 1080, true, 60, 74250000, 2200, 1125},
    {1920, 1080, true, 50, 74250000, 2640, 1125},
    {3840, 2160, false, 30, 297000000, 4400, 2250},
    {3840, 2160, false, 25, 297000000, 5280, 2250},
    {3840, 2160, false, 24, 297000000, 5500, 2250},
    {3840, 2160, false, 60, 594000000, 4400, 2250},
    {3840, 2160, false, 50, 594000000, 5280, 2250},
};

} // namespace

HdmiTiming hdmi_timing(uint32_t width, uint32_t height, bool interlaced, double rate) {
    HdmiTiming t;
    t.width = width;
    t.interlaced = interlaced;
    t.height = interlaced ? height / 2 : height;
    const int nominal = static_cast<int>(std::lround(rate));
    for (const auto& f : kCea) {
        if (f.width != width || f.height != height || f.interlaced != interlaced ||
            f.rate != nominal)
            continue;
        t.h_total = f.h_total;
        // A field carries half the frame's lines (1125 -> 562, the odd line goes to the other).
        t.v_total = interlaced ? f.v_total_frame / 2 : f.v_total_frame;
        t.pixel_clock_hz = static_cast<uint32_t>(std::llround(f.pixel_clock_hz * rate / nominal));
        return t;
    }
    t.h_total = width + width * 15 / 100;
    t.v_total = t.height + t.height * 4 / 100 + 1;
    // Interlaced: `rate` counts fields, each of v_total lines.
    t.pixel_clock_hz = static_cast<uint32_t>(std::llround(double(t.h_total) * t.v_total * rate));
    return t;
}

std::optional<HdmiSource> parse_hdmi_source(const std::string& text) {
    std::istringstream in(text);
    std::string format;
    if (!(in >> format) || format == "none") return std::nullopt;
    unsigned w = 0, h = 0;
    char scan = 0;
    double rate = 0;
    int used = 0;
    if (std::sscanf(format.c_str(), "%ux%u%c%lf%n", &w, &h, &scan, &rate, &used) != 4 ||
        used != static_cast<int>(format.size()) || (scan != 'p' && scan != 'i') || w == 0 ||
        h == 0 || rate <= 0 || rate > 1000)
        return std::nullopt;
    HdmiSource src;
    src.timing = hdmi_timing(w, h, scan == 'i', rate);
    // Then at most the audio: a rate an HDMI source can send, or none. Anything else is not a
    // source description.
    std::string word;
    if (in >> word) {
        const std::string v = word.rfind("audio=", 0) == 0 ? word.substr(6) : "";
        const bool digits = !v.empty() && v.size() <= 6 && v.find_first_not_of("0123456789") == std::string::npos;
        if (v == "none") src.audio_rate = 0;
        else if (digits && iec60958_rate_code(std::atoi(v.c_str())) != 1) src.audio_rate = std::atoi(v.c_str());
        else return std::nullopt;
        if (in >> word) return std::nullopt;
    }
    return src;
}

uint8_t iec60958_rate_code(int rate) {
    switch (rate) {
    case 44100: return 0;
    case 48000: return 2;
    case 32000: return 3;
    case 22050: return 4;
    case 24000: return 6;
    case 88200: return 8;
    case 768000: return 9;
    case 96000: return 10;
    case 176400: return 12;
    case 192000: return 14;
    default: return 1;
    }
}

} // namespace hdext::sim
