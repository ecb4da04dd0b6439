// The software platform's video path: the capture stamp, decoder reset, the output's timeline.
#include "mpi/mpi.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include "sim/mpi/stamp.h"
#include "sim/mpi/timeline.h"
#include "sim_board.h"
#include <cstring>
#include "support/platform_pictures.h"
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>
#include <algorithm>
#include <vector>

namespace hdext::test {
namespace {

using hdext::sim::Stamp;

TEST(Stamp, RoundTripAndRejectsAPlainPicture) {
    const int w = 720, h = 480;
    std::vector<uint8_t> y(static_cast<size_t>(w) * h), uv(static_cast<size_t>(w) * h / 2);
    hdext::sim::draw_test_picture(y.data(), w, uv.data(), w, w, h, 7);
    EXPECT_FALSE(hdext::sim::read_stamp(y.data(), w, w, h).has_value());
    hdext::sim::write_stamp(y.data(), w, w, h, Stamp{0xDEADBEEF, 0x0123456789ABCDEFull});
    const auto s = hdext::sim::read_stamp(y.data(), w, w, h);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->frame_no, 0xDEADBEEFu);
    EXPECT_EQ(s->time_us, 0x0123456789ABCDEFull);
    y[16 * w + 16 + 4 * w + 4] ^= 0xFF; // one pixel does not flip a cell
    EXPECT_TRUE(hdext::sim::read_stamp(y.data(), w, w, h).has_value());
    for (int r = 0; r < 16; ++r)
        std::memset(&y[(16 + r) * w + 16], 235, 16); // a flipped cell does
    for (int r = 0; r < 16; ++r)
        std::memset(&y[(16 + r) * w + 32], 16, 16);
    EXPECT_FALSE(hdext::sim::read_stamp(y.data(), w, w, h).has_value());
    EXPECT_FALSE(hdext::sim::read_stamp(y.data(), w, 640, h).has_value()); // too narrow for a stamp
}

// NAL unit types of an access unit, in order.
std::vector<int> nal_types(const std::vector<uint8_t>& au) {
    std::vector<int> t;
    for (size_t i = 0; i + 3 < au.size(); ++i)
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1)
            t.push_back(au[i + 3] & 0x1F);
    return t;
}

TEST(SimEncoder, RequestedIdrComesWithItsParameterSetsAndEveryPictureWithItsStamps) {
    const auto pics = platform_pictures(OT_PT_H264, 1280, 720, 3, 0, 2);
    ASSERT_EQ(pics.size(), 3u);
    const std::vector<int> p = nal_types(pics[1]), idr = nal_types(pics[2]);
    EXPECT_EQ(std::count(p.begin(), p.end(), 5), 0) << "the group runs on";
    // One access unit: the parameter sets once, the stage stamps before the first slice, both slices.
    EXPECT_EQ(idr, (std::vector<int>{7, 8, 6, 5, 5}));
    for (const auto& au : pics) {
        const auto st = hdext::sim::read_stage_sei(au.data(), au.size());
        ASSERT_TRUE(st.has_value());
        EXPECT_GT(st->captured, 0u);
        EXPECT_GE(st->encoded, st->captured);
        EXPECT_GE(st->sent, st->encoded);
    }
}

TEST(SimEncoder, ARunningChannelTakesANewBitRateBetweenPictures) {
    const auto pics = platform_pictures(OT_PT_H264, 1280, 720, 60, 0, -1, 30, 512);
    ASSERT_EQ(pics.size(), 60u);
    size_t before = 0, after = 0;
    for (int i = 10; i < 30; ++i) before += pics[i].size();
    for (int i = 40; i < 60; ++i) after += pics[i].size();
    EXPECT_LT(after * 3, before) << "4096 kbit/s, then 512";
}

TEST_F(SimBoard, ResetDecoderDropsWhatIsQueued) {
    ot_vdec_chn_attr da{};
    da.payload = OT_PT_H264;
    da.width = 1920;
    da.height = 1080;
    da.frame_buf_size = 3146496;
    hdext::sim::vdec_hold(5, true);
    ASSERT_EQ(ss_mpi_vdec_create_chn(5, &da), 0);
    uint8_t junk[64] = {0, 0, 0, 1, 0x65};
    ot_vdec_stream s{1, 0, 1, 0, junk, sizeof(junk)};
    EXPECT_EQ(ss_mpi_vdec_send_stream(5, &s, -1),
              ot_err(OT_ID_VDEC, OT_ERR_NOT_PERM)); // not receiving
    ASSERT_EQ(ss_mpi_vdec_start_recv_stream(5), 0);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(ss_mpi_vdec_send_stream(5, &s, -1), 0);
    EXPECT_EQ(hdext::sim::vdec_queued(5), 4u);
    ASSERT_EQ(ss_mpi_vdec_stop_recv_stream(5), 0);
    EXPECT_EQ(ss_mpi_vdec_send_stream(5, &s, 0), ot_err(OT_ID_VDEC, OT_ERR_NOT_PERM));
    EXPECT_EQ(hdext::sim::vdec_queued(5), 4u); // stopping keeps the queue
    ASSERT_EQ(ss_mpi_vdec_reset_chn(5), 0);
    EXPECT_EQ(hdext::sim::vdec_queued(5), 0u);
    hdext::sim::vdec_hold(5, false);
    usleep(50000);
    EXPECT_EQ(hdext::sim::vdec_decoded(5), 0u);
    ASSERT_EQ(ss_mpi_vdec_destroy_chn(5), 0);
}

// Lines reach the file a batch at a time; past its line count the file becomes timeline.1, also
// for a program that appends to what an earlier one left.
TEST_F(SimBoard, TimelineWritesInBatchesAndRotates) {
    const std::string rel = "/sim/hdmi-out/timeline";
    {
        hdext::sim::Timeline t(root + rel, 4, 100);
        t.add(1000, 1, 11);
        t.add(1099, 2, 12);
        EXPECT_EQ(read(rel), "");
        t.add(1100, 4, 13);
        EXPECT_EQ(read(rel), "1000 1 11\n1099 2 12\n1100 4 13\n");
        t.add(1200, 5, 14);
        t.add(1300, 6, 15);
        EXPECT_EQ(read(rel + ".1"), "1000 1 11\n1099 2 12\n1100 4 13\n1200 5 14\n1300 6 15\n");
        EXPECT_EQ(read(rel), "");
        t.add(1400, 7, 16);
    }
    EXPECT_EQ(read(rel), "1400 7 16\n");
    hdext::sim::Timeline again(root + rel, 2, 100);
    again.add(2000, 0, 9);
    again.flush();
    EXPECT_EQ(read(rel + ".1"), "1400 7 16\n2000 0 9\n");
}

} // namespace
} // namespace hdext::test
