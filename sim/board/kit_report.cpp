#include "sim/board/kit_report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "sim/board/kit_timeline.h"
#include "sim/board/unit_probe.h"

namespace hdext::sim {
namespace fs = std::filesystem;

namespace {

constexpr auto kPoll = std::chrono::milliseconds(100);
constexpr const char* kLegend =
    "linked, picture: seconds after the unit's program started (TX: its first receiver, its first capture); "
    "glass to glass: over the last 1024 pictures shown; cpu: share of one core; RSS: peak in the window";

struct Track {
    UnitView now;                       // the last look
    double link_s = -1, picture_s = -1;  // after the program's start, as first seen
    UnitView first;                     // at the start of the window
    uint64_t rss_peak_kb = 0;
    bool ended = false;                 // the program ended or was replaced in the window
};

// One line of the table, in text for stdout and report.html alike.
struct Row {
    std::string unit, linked, picture, frames, gaps, latency, cpu, rss, stages, failure;
};

std::string fmt(const char* f, double v) {
    char b[128];
    std::snprintf(b, sizeof b, f, v);
    return b;
}

std::string ms(int64_t us) { return fmt("%.1f", static_cast<double>(us) / 1000.0); }

int64_t delta(int64_t from, int64_t to) { return to >= from ? to - from : to; }  // a reset counts anew

// "name p50/p99" for every stage_<name>_p50_us key, in the order the unit wrote them.
std::string stages(const Status& s) {
    std::string out;
    for (const auto& [k, v] : s.kv) {
        if (!k.starts_with("stage_") || !k.ends_with("_p50_us")) continue;
        const std::string name = k.substr(6, k.size() - 6 - 7);
        out += (out.empty() ? "" : ", ") + name + " " + ms(s.num(k)) + "/" + ms(s.num("stage_" + name + "_p99_us"));
    }
    return out;
}

std::string when(double s) { return s < 0 ? "-" : fmt("%.1f s", s); }

// Counters over the window, from the looks at its start and at its end.
int64_t in_window(const Track& t, const Status UnitView::*file, const char* key) {
    return delta((t.first.*file).num(key), (t.now.*file).num(key));
}
int64_t shown(const Track& t) { return in_window(t, &UnitView::out, "frames_shown"); }
int64_t captured(const Track& t) { return in_window(t, &UnitView::capture, "frames_captured"); }

void refresh(const std::string& dir, Track& t) {
    t.now = look_at(dir, t.now.unit, t.now.pid);
    if (t.now.pid <= 0) return;
    const double age = boot_seconds() - t.now.started_at();
    if (t.link_s < 0 && t.now.linked()) t.link_s = age;
    if (t.picture_s < 0 && t.now.picture()) t.picture_s = age;
}

void progress(const char* phase, const std::vector<Track>& units, double elapsed, double window) {
    std::string line = window > 0 ? fmt("[%3.0f", elapsed) + fmt("/%.0f s] ", window) : fmt("[%3.0f s] ", elapsed);
    line += phase;
    for (const auto& t : units) {
        line += " | " + t.now.unit + " ";
        if (window > 0 && t.now.pid > 0)
            line += t.now.tx ? std::to_string(captured(t)) + " captured"
                             : std::to_string(shown(t)) + " shown, " + ms(t.now.out.num("latency_p50_us")) + " ms";
        else
            line += t.now.state();
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::vector<Row> rows(const std::vector<Track>& units, double window_s, double deadline, bool windowed) {
    int64_t tx_captured = 0;
    for (const auto& t : units)
        if (t.now.tx) tx_captured = captured(t);
    std::vector<Row> out;
    for (const auto& t : units) {
        Row r{t.now.unit, when(t.link_s), when(t.picture_s), "-", "-", "-", "-", "-", "", ""};
        const bool ran = windowed && t.first.pid > 0 && !t.ended;
        if (ran) {
            const double ticks = static_cast<double>(t.now.proc.cpu_ticks - t.first.proc.cpu_ticks);
            r.cpu = fmt("%.2f", ticks * tick_seconds() / window_s);
            r.rss = fmt("%.0f MB", static_cast<double>(t.rss_peak_kb) / 1024.0);
        }
        if (t.now.tx && ran) {
            r.frames = std::to_string(tx_captured) + " captured";
        } else if (!t.now.tx && ran) {
            r.frames = std::to_string(shown(t)) + " / " + std::to_string(tx_captured);
            r.gaps = std::to_string(in_window(t, &UnitView::out, "gaps"));
            r.latency = ms(t.now.out.num("latency_p50_us")) + " / " + ms(t.now.out.num("latency_p99_us")) + " ms";
            r.stages = stages(t.now.out);
        }
        const std::string within = fmt(" within %.0f s", deadline);
        if (t.now.pid <= 0 && t.first.pid <= 0) r.failure = "program not running";
        else if (t.ended) r.failure = "program ended during the window";
        else if (t.now.tx) r.failure = "";
        else if (t.link_s < 0) r.failure = "never linked" + within;
        else if (t.picture_s < 0) r.failure = "linked, no video" + within;
        else if (windowed && shown(t) == 0)
            r.failure = "no picture shown in the window";
        out.push_back(r);
    }
    return out;
}

// The figures a timeline shows, from each unit's status file.
void sample(KitSamples& s, const std::vector<Track>& units) {
    const uint64_t now = monotonic_us();
    for (const auto& t : units) {
        if (t.now.pid <= 0) continue;
        if (t.now.tx) s.tx(now, t.now.capture.kv);
        else s.rx(now, t.now.unit, t.now.links.stream_addr, t.now.out.kv);
    }
}

// One RX's timeline over the window: a line of its figures and the plot.
struct Plot {
    std::string unit, line, svg;
};

std::string late(const std::vector<Sample>& counter) { return counter.empty() ? "-" : std::to_string(increase(counter)); }

std::vector<Plot> plots(const std::string& dir, const std::vector<Track>& units, const KitSamples& s, uint64_t from,
                        uint64_t to) {
    std::vector<Plot> out;
    for (const auto& t : units) {
        if (t.now.tx) continue;
        RxTimeline rx = s.series(t.now.unit);
        rx.pictures = load_timeline(dir + "/" + t.now.unit, from, to);
        const TimelineFigures f = timeline_figures(rx.pictures, from, to);
        std::string line = std::to_string(f.shown) + " pictures";
        if (f.shown)
            line += ", glass to glass p99 " + ms(static_cast<int64_t>(f.p99_us)) + " ms, oldest " +
                    ms(static_cast<int64_t>(f.max_us)) + " ms, longest pause " +
                    fmt("%.2f s", static_cast<double>(f.longest_pause_us) / 1e6) + ", " + std::to_string(f.missing) +
                    " frames missing";
        line += "; late drops RX " + late(rx.rx_late_drops) + ", TX " + late(rx.tx_late_drops);
        out.push_back({t.now.unit, line, timeline_svg(rx, from, to)});
    }
    return out;
}

// The TX's bit rate over the window, when its program reports it.
std::string bitrate_line(const KitSamples& s, const std::vector<Track>& units) {
    const auto& rates = s.bitrate_kbps();
    if (rates.empty()) return "";
    int64_t lo = rates[0].value;
    for (const auto& r : rates) lo = std::min(lo, r.value);
    std::string line = "TX bit rate " + std::to_string(rates.back().value) + " kbit/s at the end, lowest " +
                       std::to_string(lo) + " kbit/s";
    for (const auto& t : units)
        if (t.now.tx && !t.now.capture.get("bitrate_ceiling_kbps").empty())
            line += ", ceiling " + t.now.capture.get("bitrate_ceiling_kbps") + " kbit/s";
    return line;
}

void print_table(const std::vector<Row>& rows) {
    std::printf("\n%-5s %8s %8s  %-18s %5s  %-20s %5s %7s\n", "unit", "linked", "picture", "shown / captured", "gaps",
                "glass-to-glass p50/p99", "cpu", "RSS");
    for (const auto& r : rows) {
        std::printf("%-5s %8s %8s  %-18s %5s  %-20s %5s %7s\n", r.unit.c_str(), r.linked.c_str(), r.picture.c_str(),
                    r.frames.c_str(), r.gaps.c_str(), r.latency.c_str(), r.cpu.c_str(), r.rss.c_str());
        if (!r.stages.empty()) std::printf("      stages p50/p99 ms: %s\n", r.stages.c_str());
        if (!r.failure.empty()) std::printf("      FAILED: %s\n", r.failure.c_str());
    }
    std::printf("%s\n", kLegend);
}

std::string html(const std::string& s) {
    std::string o;
    for (char c : s) {
        if (c == '<') o += "&lt;";
        else if (c == '>') o += "&gt;";
        else if (c == '&') o += "&amp;";
        else if (c == '"') o += "&quot;";
        else o += c;
    }
    return o;
}

// Copies the unit's pictures beside the page; the names of those that exist.
std::vector<std::string> save_pictures(const std::string& dir, const std::string& unit, const std::string& out) {
    std::vector<std::string> saved;
    const std::pair<const char*, const char*> pics[] = {{"hdmi-out/snapshot.png", "snapshot"}, {"oled.png", "oled"}};
    for (const auto& [from, name] : pics) {
        const std::string file = unit + "-" + name + ".png";
        std::error_code ec;
        fs::copy_file(dir + "/" + unit + "/sim/" + from, out + "/" + file, fs::copy_options::overwrite_existing, ec);
        saved.push_back(ec ? "" : file);
    }
    return saved;
}

bool write_html(const std::string& dir, const std::string& out, const std::vector<Track>& units,
                const std::vector<Row>& rows, const std::string& summary, const std::vector<Plot>& plots,
                const std::string& bitrate) {
    std::error_code ec;
    fs::create_directories(out, ec);
    std::ofstream f(out + "/report.html");
    f << "<!doctype html>\n<meta charset=\"utf-8\">\n<title>hdext kit report</title>\n<style>\n"
         "body{font-family:sans-serif;margin:1.5em;background:#f4f4f4}table{border-collapse:collapse;background:#fff}\n"
         "td,th{border:1px solid #ccc;padding:.3em .6em;text-align:right}td:first-child{text-align:left}\n"
         ".fail{color:#b00;font-weight:bold}.unit{display:flex;gap:1em;align-items:flex-start;background:#fff;\n"
         "padding:.8em;border:1px solid #ccc;margin-top:1em}.unit h2{margin:0 0 .3em}\n"
         ".oled{width:264px;image-rendering:pixelated}.snap{width:400px}pre{font-size:12px}\n"
         "</style>\n<h1>Kit report: world "
      << html(fs::path(dir).filename().string()) << "</h1>\n<p>" << html(summary) << "</p>\n<table>\n"
      << "<tr><th>unit<th>linked<th>picture<th>shown / captured<th>gaps<th>glass-to-glass p50/p99<th>cpu<th>RSS</tr>\n";
    for (const auto& r : rows) {
        f << "<tr><td>" << html(r.unit) << "<td>" << r.linked << "<td>" << r.picture << "<td>" << r.frames << "<td>"
          << r.gaps << "<td>" << r.latency << "<td>" << r.cpu << "<td>" << r.rss << "</tr>\n";
        if (!r.stages.empty()) f << "<tr><td><td colspan=\"7\">stages p50/p99 ms: " << html(r.stages) << "</tr>\n";
        if (!r.failure.empty()) f << "<tr><td><td colspan=\"7\" class=\"fail\">FAILED: " << html(r.failure) << "</tr>\n";
    }
    f << "</table>\n<p>" << kLegend << "</p>\n";
    if (!plots.empty()) f << "<h2>Timelines</h2>\n<p>Glass to glass of every picture shown in the window. " << html(bitrate) << "</p>\n";
    for (const auto& p : plots) {
        std::ofstream(out + "/" + p.unit + "-timeline.svg") << p.svg;
        f << "<div class=\"unit\"><div><h2>" << html(p.unit) << "</h2>" << html(p.line) << "<br>" << p.svg << "</div></div>\n";
    }
    for (size_t i = 0; i < units.size(); ++i) {
        const Track& t = units[i];
        const auto pics = save_pictures(dir, t.now.unit, out);
        f << "<div class=\"unit\">\n";
        if (!pics[0].empty()) f << "<img class=\"snap\" src=\"" << pics[0] << "\" alt=\"HDMI output\">\n";
        if (!pics[1].empty()) f << "<img class=\"oled\" src=\"" << pics[1] << "\" alt=\"OLED\">\n";
        const Row& r = rows[i];
        f << "<div><h2>" << html(t.now.unit) << "</h2>" << html(t.now.state()) << "<br>linked " << r.linked
          << ", picture " << r.picture << "<br>shown / captured " << r.frames << ", gaps " << r.gaps
          << "<br>glass to glass " << r.latency << "<br>cpu " << r.cpu << ", RSS " << r.rss << "\n<details><summary>"
          << (t.now.tx ? "sim/capture/status" : "sim/hdmi-out/status") << "</summary><pre>";
        for (const auto& [k, v] : (t.now.tx ? t.now.capture : t.now.out).kv) f << html(k) << "=" << html(v) << "\n";
        f << "</pre></details></div></div>\n";
    }
    return static_cast<bool>(f);
}

} // namespace

int world_report(const std::string& dir, const ReportOptions& opt) {
    std::vector<Track> units;
    for (const auto& u : world_units(dir)) {
        units.emplace_back();
        units.back().now.unit = u;
        units.back().now.tx = u == "tx";
    }
    if (units.empty()) {
        std::fprintf(stderr, "world report: no world in %s\n", dir.c_str());
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    auto all_showing = [&] {
        for (const auto& t : units)
            if (!t.now.tx && t.picture_s < 0) return false;
        return true;
    };
    // Until every receiver shows video, or the deadline.
    for (double next = 1;; std::this_thread::sleep_for(kPoll)) {
        for (auto& t : units) refresh(dir, t);
        if (all_showing() || elapsed() > opt.deadline) break;
        if (elapsed() >= next) {
            progress("waiting for video", units, elapsed(), 0);
            next += 1;
        }
    }
    const double video_at = elapsed();
    bool any = false;
    for (auto& t : units) {
        t.first = t.now;
        t.rss_peak_kb = t.now.proc.rss_kb;
        any = any || (!t.now.tx && t.picture_s >= 0);
    }
    // The window: once a second a look at every unit.
    const auto window_start = std::chrono::steady_clock::now();
    const uint64_t from_us = monotonic_us();
    KitSamples samples;
    sample(samples, units);
    double window = 0;
    for (int s = 1; any && s <= static_cast<int>(opt.seconds + 0.5); ++s) {
        std::this_thread::sleep_until(window_start + std::chrono::seconds(s));
        for (auto& t : units) {
            refresh(dir, t);
            t.ended = t.ended || t.now.pid != t.first.pid;
            t.rss_peak_kb = std::max(t.rss_peak_kb, t.now.proc.rss_kb);
        }
        sample(samples, units);
        window = std::chrono::duration<double>(std::chrono::steady_clock::now() - window_start).count();
        progress("streaming", units, s, opt.seconds);
    }
    const uint64_t to_us = monotonic_us();
    const auto table = rows(units, window, opt.deadline, any);
    print_table(table);
    // The outputs write their timelines a batch at a time.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const auto timelines = any ? plots(dir, units, samples, from_us, to_us) : std::vector<Plot>{};
    const std::string bitrate = bitrate_line(samples, units);
    for (const auto& p : timelines)
        std::printf("%-5s timeline: %s%s\n", p.unit.c_str(), p.line.c_str(),
                    opt.out_dir.empty() ? "" : ("; plot " + opt.out_dir + "/" + p.unit + "-timeline.svg").c_str());
    if (!bitrate.empty()) std::printf("%s\n", bitrate.c_str());
    bool failed = false;
    for (const auto& r : table) failed = failed || !r.failure.empty();
    const std::string summary =
        !any            ? fmt("No receiver showed video within %.0f s.", opt.deadline)
        : all_showing() ? fmt("Every receiver showed video %.1f s after the report started", video_at) +
                              fmt("; the window is the %.0f s after that.", window)
                        : fmt("Not every receiver showed video within %.0f s", opt.deadline) +
                              fmt("; the window is the %.0f s after that.", window);
    if (!opt.out_dir.empty()) {
        if (write_html(dir, opt.out_dir, units, table, summary, timelines, bitrate))
            std::printf("report: %s/report.html\n", opt.out_dir.c_str());
        else
            std::fprintf(stderr, "world report: cannot write %s/report.html\n", opt.out_dir.c_str());
    }
    std::printf("%s%s\n", summary.c_str(), failed ? " FAILED" : "");
    return failed ? 1 : 0;
}

} // namespace hdext::sim
