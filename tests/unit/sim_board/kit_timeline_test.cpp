// Receivers' timelines as the report, the panel and the soak read them: the figures of a few
// hand-made pictures, and what their SVG plot shows.
#include "sim/board/kit_timeline.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "support/board_root.h"

namespace hdext::test {
namespace {

using namespace hdext::sim;

// Every match of group 1 of re in text.
std::vector<std::string> all(const std::string& text, const std::string& re) {
    std::vector<std::string> out;
    const std::regex r(re);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), r); it != std::sregex_iterator(); ++it)
        out.push_back((*it)[1]);
    return out;
}

TEST(KitTimeline, FiguresOfAWindowAcrossARotation) {
    TempBoardRoot board;
    // The older file holds the first pictures; the newer repeats one (read during a rotation)
    // and has a line cut short and one of another writer.
    board.put("/sim/hdmi-out/timeline.1", "1000000 10 12000\n1016000 11 14000\n");
    board.put("/sim/hdmi-out/timeline", "1016000 11 14000\n1033000 14 30000\nnoise\n1400000 15 9000\n1416000 16 8");
    const auto pics = load_timeline(board.dir(), 1000000, 1500000);
    ASSERT_EQ(pics.size(), 5u);
    const TimelineFigures f = timeline_figures(pics, 1000000, 1500000);
    EXPECT_EQ(f.shown, 5u);
    EXPECT_EQ(f.max_us, 30000u);
    EXPECT_EQ(f.p50_us, 12000u);
    EXPECT_EQ(f.p99_us, 30000u);
    EXPECT_EQ(f.missing, 2);                    // 12 and 13
    EXPECT_EQ(f.longest_pause_us, 367000u);     // 1.033 s to 1.4 s
    EXPECT_EQ(timeline_figures(pics, 1400000, 1600000).longest_pause_us, 184000u);  // to the window's end
    EXPECT_EQ(load_timeline(board.dir(), 1010000, 1020000).size(), 1u);
}

TEST(KitTimeline, LagUsualAgainFromTheRunOfUsualSlicesThatLastsToTheEnd) {
    // 5 s at 60 pictures a second: 2 s late, usual, a 0.6 s freeze, usual again.
    std::vector<Shown> p;
    for (uint64_t i = 0; i < 300; ++i)
        if (i < 140 || i > 175) p.push_back({i * 16667, static_cast<int64_t>(i), i < 120 ? 900000u : 11000u});
    const uint64_t end = 300 * 16667, slice = 250000;
    EXPECT_DOUBLE_EQ(seconds_until_steady(p, 0, end, 20000, 1000000, slice), 2.75);  // after the freeze
    EXPECT_EQ(seconds_until_steady(p, 0, end, 20000, 2500000, slice), -1);          // not 2.5 s of it
    EXPECT_EQ(seconds_until_steady(p, 0, end + 600000, 20000, 1000000, slice), -1);  // the output stopped
    p[250].latency_us = 900000;  // a lone late picture does not count
    EXPECT_DOUBLE_EQ(seconds_until_steady(p, 0, end, 20000, 1000000, slice), 2.75);
    for (auto& s : p)  // late again at the end
        if (s.frame >= 270) s.latency_us = 900000;
    EXPECT_EQ(seconds_until_steady(p, 0, end, 20000, 1000000, slice), -1);
    EXPECT_EQ(increase({{0, 5}, {1, 7}, {2, 7}, {3, 2}, {4, 4}}), 2 + 2 + 2);  // a restart counts anew
}

TEST(KitTimeline, PlotShowsEveryPictureItsPausesDropsAndTheBitRate) {
    KitSamples s;
    s.tx(0, {{"bitrate_kbps", "12000"}, {"slot1_addr", "192.168.168.101"}, {"slot1_late_drops", "0"}});
    s.rx(0, "rx1", "192.168.168.101", {{"late_drops", "4"}});
    s.tx(500000, {{"bitrate_kbps", "3000"}, {"slot1_addr", "192.168.168.101"}, {"slot1_late_drops", "6"}});
    s.rx(500000, "rx1", "", {{"late_drops", "7"}});
    RxTimeline t = s.series("rx1");
    // 1 s plotted over 770 pixels from x 62; 40 ms tops a 50 ms scale of 228 pixels from y 262.
    t.pictures = {{0, 1, 10000}, {100000, 2, 40000}, {400000, 5, 20000}};
    const std::string svg = timeline_svg(t, 0, 1000000);
    EXPECT_EQ(all(svg, "<polyline points=\"([^\"]*)\""),
              (std::vector<std::string>{"62.0,216.4 139.0,79.6", "370.0,170.8 370.0,170.8"}));
    EXPECT_EQ(all(svg, "<title>([^<]*)</title></path>"),
              (std::vector<std::string>{"2 frames missing", "3 dropped late by the RX", "6 dropped late by the TX for this RX"}));
    // 12000 and then 3000 kbit/s on a 20000 kbit/s scale, held to the plot's end.
    EXPECT_EQ(all(svg, "class=\"bitrate\"[^>]*points=\"([^\"]*)\""),
              (std::vector<std::string>{"62.0,125.2 447.0,125.2 447.0,227.8 832.0,227.8"}));
    EXPECT_EQ(svg.find("250 ms"), std::string::npos);

    // A long run keeps at most two points per pixel column, and its worst picture.
    t.pictures.clear();
    for (int64_t i = 0; i < 20000; ++i)
        t.pictures.push_back({static_cast<uint64_t>(i) * 50, i, i == 12345 ? 400000u : 10000u});
    const std::string busy = timeline_svg(t, 0, 1000000);
    const auto runs = all(busy, "<polyline points=\"([^\"]*)\"");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_LE(std::count(runs[0].begin(), runs[0].end(), ','), 2 * 771);
    EXPECT_NE(runs[0].find(",79.6"), std::string::npos) << "the 400 ms picture on a 500 ms scale";
    EXPECT_NE(busy.find("250 ms"), std::string::npos);
}

} // namespace
} // namespace hdext::test
