#include "sim/board/kit_timeline.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace hdext::sim {
namespace {

// The plot's frame: the picture's size and the area inside the axes.
constexpr double kW = 900, kH = 300, kLeft = 62, kRight = 832, kTop = 34, kBottom = 262;
constexpr uint64_t kBudgetUs = 250000;
// A line does not join two pictures further apart than this: the output paused between them.
constexpr uint64_t kJoinUs = 200000;

template <class T>
bool number(std::string_view s, T* v) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), *v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

std::string read_tail(const std::string& path, size_t tail_bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    if (tail_bytes > 0) {
        in.seekg(0, std::ios::end);
        const auto size = static_cast<size_t>(std::max<std::streamoff>(0, in.tellg()));
        in.seekg(static_cast<std::streamoff>(size > tail_bytes ? size - tail_bytes : 0));
        if (size > tail_bytes) in.ignore(static_cast<std::streamsize>(tail_bytes), '\n');  // a part line
    }
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

uint64_t nearest_rank(std::vector<uint64_t>& v, size_t pct) {
    if (v.empty()) return 0;
    const size_t rank = std::clamp<size_t>((v.size() * pct + 99) / 100, 1, v.size());
    std::nth_element(v.begin(), v.begin() + static_cast<long>(rank - 1), v.end());
    return v[rank - 1];
}

// A round scale end at or above v: 1, 2, 2.5 or 5 times a power of ten.
double round_up(double v) {
    if (v <= 0) return 1;
    const double p = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (m * p >= v * 0.999) return m * p;
    return 10 * p;
}

std::string num(double v, const char* f = "%.1f") {
    char b[32];
    std::snprintf(b, sizeof b, f, v);
    return b;
}

// Marks of one kind under the plot, merged per pixel column: x -> count.
using Marks = std::map<int, int64_t>;

void add_marks(std::string& svg, const Marks& marks, const char* cls, const char* paint, double y,
               const char* shape, const char* what) {
    if (marks.empty()) return;
    svg += std::string("<g class=\"") + cls + "\" " + paint + ">";
    for (const auto& [x, n] : marks)
        svg += "<path d=\"M" + std::to_string(x) + " " + num(y) + shape + "\"><title>" + std::to_string(n) + " " +
               what + "</title></path>";
    svg += "</g>\n";
}

} // namespace

uint64_t monotonic_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

void parse_timeline(std::string_view text, uint64_t from_us, uint64_t to_us, std::vector<Shown>* out) {
    for (size_t b = 0; b < text.size();) {
        size_t e = text.find('\n', b);
        if (e == std::string_view::npos) e = text.size();
        const std::string_view line = text.substr(b, e - b);
        b = e + 1;
        const size_t s1 = line.find(' '), s2 = line.find(' ', s1 == line.npos ? s1 : s1 + 1);
        Shown p{};
        if (s2 == line.npos || !number(line.substr(0, s1), &p.shown_us) ||
            !number(line.substr(s1 + 1, s2 - s1 - 1), &p.frame) || !number(line.substr(s2 + 1), &p.latency_us))
            continue;
        if (p.shown_us >= from_us && p.shown_us <= to_us) out->push_back(p);
    }
}

std::vector<Shown> load_timeline(const std::string& board_root, uint64_t from_us, uint64_t to_us, size_t tail_bytes) {
    // The newer file first: a rotation between the two reads repeats lines rather than losing them.
    const std::string path = board_root + "/sim/hdmi-out/timeline";
    std::vector<Shown> out;
    parse_timeline(read_tail(path, tail_bytes), from_us, to_us, &out);
    parse_timeline(read_tail(path + ".1", tail_bytes), from_us, to_us, &out);
    auto by_time = [](const Shown& a, const Shown& b) { return a.shown_us < b.shown_us; };
    std::stable_sort(out.begin(), out.end(), by_time);
    out.erase(std::unique(out.begin(), out.end(),
                          [](const Shown& a, const Shown& b) { return a.shown_us == b.shown_us && a.frame == b.frame; }),
              out.end());
    return out;
}

TimelineFigures timeline_figures(const std::vector<Shown>& pictures, uint64_t from_us, uint64_t to_us) {
    TimelineFigures f;
    std::vector<uint64_t> lat;
    uint64_t last_us = from_us;
    const Shown* prev = nullptr;
    for (const Shown& p : pictures) {
        if (p.shown_us < from_us || p.shown_us > to_us) continue;
        lat.push_back(p.latency_us);
        f.max_us = std::max(f.max_us, p.latency_us);
        if (prev && p.frame > prev->frame + 1) f.missing += p.frame - prev->frame - 1;
        f.longest_pause_us = std::max(f.longest_pause_us, p.shown_us - last_us);
        last_us = p.shown_us;
        prev = &p;
    }
    f.longest_pause_us = std::max(f.longest_pause_us, to_us > last_us ? to_us - last_us : 0);
    f.shown = lat.size();
    f.p50_us = nearest_rank(lat, 50);
    f.p99_us = nearest_rank(lat, 99);
    return f;
}

double seconds_until_steady(const std::vector<Shown>& pictures, uint64_t from_us, uint64_t to_us, uint64_t limit_us,
                            uint64_t hold_us, uint64_t slice_us) {
    if (to_us <= from_us || slice_us == 0) return -1;
    const size_t n = (to_us - from_us) / slice_us;
    std::vector<std::vector<uint64_t>> slices(n);
    for (const Shown& p : pictures)
        if (p.shown_us >= from_us && p.shown_us - from_us < n * slice_us)
            slices[(p.shown_us - from_us) / slice_us].push_back(p.latency_us);
    size_t start = n;  // the first slice of the run that ends with the last
    while (start > 0 && !slices[start - 1].empty() && nearest_rank(slices[start - 1], 50) <= limit_us) --start;
    if (start == n || (n - start) * slice_us < hold_us) return -1;
    return static_cast<double>(start * slice_us) / 1e6;
}

int64_t increase(const std::vector<Sample>& counter) {
    int64_t n = 0;
    for (size_t i = 1; i < counter.size(); ++i)
        n += counter[i].value >= counter[i - 1].value ? counter[i].value - counter[i - 1].value : counter[i].value;
    return n;
}

std::string timeline_svg(const RxTimeline& t, uint64_t from_us, uint64_t to_us) {
    const double span = static_cast<double>(std::max<uint64_t>(to_us - std::min(from_us, to_us), 1));
    auto x_of = [&](uint64_t us) {
        const double v = static_cast<double>(std::clamp(us, from_us, std::max(from_us, to_us)) - from_us);
        return kLeft + v / span * (kRight - kLeft);
    };
    uint64_t worst = 0;
    for (const Shown& p : t.pictures)
        if (p.shown_us >= from_us && p.shown_us <= to_us) worst = std::max(worst, p.latency_us);
    const double lat_top = round_up(std::max(50.0, static_cast<double>(worst) / 1000.0));  // ms
    auto y_of = [&](double ms) { return kBottom - ms / lat_top * (kBottom - kTop); };

    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(kW, "%.0f") + "\" height=\"" +
                      num(kH, "%.0f") + "\" viewBox=\"0 0 " + num(kW, "%.0f") + " " + num(kH, "%.0f") +
                      "\" font-family=\"sans-serif\" font-size=\"11\">\n<title>" + t.unit +
                      ": glass to glass of every picture, drops and the TX's bit rate</title>\n"
                      "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
    // Axes and scales: seconds along, milliseconds on the left, kbit/s on the right.
    svg += "<g class=\"axes\" stroke=\"#999\" fill=\"none\"><path d=\"M" + num(kLeft) + " " + num(kTop) + "V" +
           num(kBottom) + "H" + num(kRight) + "V" + num(kTop) + "\"/></g>\n<g class=\"scale\" fill=\"#444\">";
    const double secs = span / 1e6, step = round_up(secs / 10);
    for (double s = 0; s <= secs + 1e-9; s += step) {
        const double x = kLeft + s / secs * (kRight - kLeft);
        svg += "<text x=\"" + num(x) + "\" y=\"" + num(kBottom + 14) + "\" text-anchor=\"middle\">" +
               num(s, step < 1 ? "%.1f" : "%.0f") + "</text>";
    }
    svg += "<text x=\"" + num(kRight) + "\" y=\"" + num(kBottom + 28) + "\" text-anchor=\"end\">seconds</text>";
    for (int i = 0; i <= 5; ++i)
        svg += "<text x=\"" + num(kLeft - 4) + "\" y=\"" + num(y_of(lat_top * i / 5) + 4) + "\" text-anchor=\"end\">" +
               num(lat_top * i / 5, lat_top < 10 ? "%.1f" : "%.0f") + "</text>";
    svg += "<text x=\"4\" y=\"" + num(kTop - 8) + "\">ms</text>";
    int64_t rate_max = 0;
    for (const Sample& s : t.bitrate_kbps) rate_max = std::max(rate_max, s.value);
    const double rate_top = round_up(static_cast<double>(std::max<int64_t>(rate_max, 1)));
    if (!t.bitrate_kbps.empty()) {
        for (int i = 0; i <= 5; ++i)
            svg += "<text x=\"" + num(kRight + 4) + "\" y=\"" +
                   num(kBottom - (kBottom - kTop) * i / 5.0 + 4) + "\" fill=\"#1f5fbf\">" +
                   num(rate_top * i / 5, "%.0f") + "</text>";
        svg += "<text x=\"" + num(kW - 4) + "\" y=\"" + num(kTop - 8) + "\" text-anchor=\"end\" fill=\"#1f5fbf\">kbit/s</text>";
    }
    svg += "</g>\n";
    if (lat_top >= kBudgetUs / 1000.0)
        svg += "<g class=\"budget\"><path d=\"M" + num(kLeft) + " " + num(y_of(kBudgetUs / 1000.0)) + "H" + num(kRight) +
               "\" stroke=\"#b00\" stroke-dasharray=\"4 3\"/><text x=\"" + num(kLeft + 4) + "\" y=\"" +
               num(y_of(kBudgetUs / 1000.0) - 3) + "\" fill=\"#b00\">250 ms</text></g>\n";
    // The TX's bit rate, held from one sample to the next.
    if (!t.bitrate_kbps.empty()) {
        svg += "<polyline class=\"bitrate\" fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.5\" points=\"";
        double last_y = -1;
        for (const Sample& s : t.bitrate_kbps) {
            if (s.t_us > to_us) break;
            const double x = x_of(s.t_us), y = kBottom - static_cast<double>(s.value) / rate_top * (kBottom - kTop);
            if (last_y >= 0) svg += num(x) + "," + num(last_y) + " ";
            svg += num(x) + "," + num(y) + " ";
            last_y = y;
        }
        if (last_y >= 0) svg += num(kRight) + "," + num(last_y);
        svg += "\"/>\n";
    }
    // Glass to glass: per pixel column the lowest and the highest picture, in their order; a new
    // line after a pause.
    Marks missing;
    std::string lines, run;
    int run_points = 0;
    const Shown* prev = nullptr;
    int col = -1;
    Shown lo{}, hi{};
    auto put = [&](const Shown& p) {
        run += num(x_of(p.shown_us)) + "," + num(y_of(static_cast<double>(p.latency_us) / 1000.0)) + " ";
        ++run_points;
    };
    auto close_col = [&] {
        if (col < 0) return;
        if (lo.shown_us < hi.shown_us) put(lo), put(hi);
        else if (hi.shown_us < lo.shown_us) put(hi), put(lo);
        else put(lo);
    };
    auto close_run = [&] {
        close_col();
        col = -1;
        if (run_points == 1) run += run;  // a lone picture: a dot
        if (!run.empty()) {
            run.pop_back();
            lines += "<polyline points=\"" + run + "\"/>";
        }
        run.clear();
        run_points = 0;
    };
    for (const Shown& p : t.pictures) {
        if (p.shown_us < from_us || p.shown_us > to_us) continue;
        if (prev && p.frame > prev->frame + 1) missing[static_cast<int>(x_of(p.shown_us))] += p.frame - prev->frame - 1;
        if (prev && p.shown_us - prev->shown_us > kJoinUs) close_run();
        const int c = static_cast<int>(x_of(p.shown_us));
        if (c != col) {
            close_col();
            col = c;
            lo = hi = p;
        } else {
            if (p.latency_us < lo.latency_us) lo = p;
            if (p.latency_us > hi.latency_us) hi = p;
        }
        prev = &p;
    }
    close_run();
    svg += "<g class=\"latency\" fill=\"none\" stroke=\"#222\" stroke-width=\"1.2\" stroke-linecap=\"round\">" +
           lines + "</g>\n";
    // Drops under the axis: frames missing, then the RX's and the TX's late drops.
    auto counter_marks = [&](const std::vector<Sample>& c) {
        Marks m;
        for (size_t i = 1; i < c.size(); ++i) {
            const int64_t n = c[i].value >= c[i - 1].value ? c[i].value - c[i - 1].value : c[i].value;
            if (n > 0 && c[i].t_us >= from_us && c[i].t_us <= to_us) m[static_cast<int>(x_of(c[i].t_us))] += n;
        }
        return m;
    };
    add_marks(svg, missing, "missing", "stroke=\"#d00\" stroke-width=\"1.5\"", kBottom - 1, "v-8", "frames missing");
    add_marks(svg, counter_marks(t.rx_late_drops), "rx-late", "fill=\"#e08000\"", kTop - 1, "l-4 -7h8z",
              "dropped late by the RX");
    add_marks(svg, counter_marks(t.tx_late_drops), "tx-late", "fill=\"#8a2be2\"", kTop - 1, "l-4 -7h8z",
              "dropped late by the TX for this RX");
    svg += "<g class=\"legend\"><text x=\"" + num(kLeft) + "\" y=\"12\">" + t.unit +
           ": <tspan fill=\"#222\">glass to glass per picture</tspan> · <tspan fill=\"#d00\">| frames missing</tspan>"
           " · <tspan fill=\"#e08000\">▼ late, RX</tspan> · <tspan fill=\"#8a2be2\">▼ late, TX</tspan>" +
           (t.bitrate_kbps.empty() ? "" : " · <tspan fill=\"#1f5fbf\">TX bit rate</tspan>") + "</text></g>\n</svg>\n";
    return svg;
}

void KitSamples::add(std::vector<Sample>& to, uint64_t t_us, int64_t v) {
    to.push_back({t_us, v});
    if (m_keep_us == 0) return;
    const auto old = std::find_if(to.begin(), to.end(), [&](const Sample& s) { return s.t_us + m_keep_us >= t_us; });
    to.erase(to.begin(), old);
}

namespace {
const std::string* find(const KitSamples::KeyValues& kv, const std::string& key) {
    for (const auto& [k, v] : kv)
        if (k == key) return &v;
    return nullptr;
}
bool figure(const KitSamples::KeyValues& kv, const std::string& key, int64_t* v) {
    const std::string* s = find(kv, key);
    return s && number(std::string_view(*s), v);
}
} // namespace

void KitSamples::tx(uint64_t t_us, const KeyValues& status) {
    int64_t v = 0;
    if (figure(status, "bitrate_kbps", &v)) add(m_bitrate, t_us, v);
    for (int i = 0; i < 3; ++i) {
        const std::string slot = "slot" + std::to_string(i) + "_";
        const std::string* addr = find(status, slot + "addr");
        if (addr && !addr->empty() && figure(status, slot + "late_drops", &v)) add(m_tx_late[*addr], t_us, v);
    }
}

void KitSamples::rx(uint64_t t_us, const std::string& unit, const std::string& addr, const KeyValues& status) {
    int64_t v = 0;
    if (figure(status, "late_drops", &v)) add(m_rx_late[unit], t_us, v);
    if (!addr.empty()) m_addr[unit] = addr;
}

RxTimeline KitSamples::series(const std::string& unit) const {
    RxTimeline t;
    t.unit = unit;
    t.bitrate_kbps = m_bitrate;
    if (auto it = m_rx_late.find(unit); it != m_rx_late.end()) t.rx_late_drops = it->second;
    if (auto a = m_addr.find(unit); a != m_addr.end())
        if (auto it = m_tx_late.find(a->second); it != m_tx_late.end()) t.tx_late_drops = it->second;
    return t;
}

} // namespace hdext::sim
