// The software platform's video path: capture stamps that survive H.264, decoder reset,
// unbinding, and the output's reports.
#include "mpi/mpi.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include "sim/mpi/stamp.h"
#include "sim_board.h"
#include <cstring>
#include "support/child_process.h"
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>
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

// Capture -> encoder at 6 Mbit/s -> decoder -> output, driven through the platform calls.
class SimPipeline : public SimBoard {
  protected:
    void start(int w, int h, int rate, int mbps) {
        char src[64];
        std::snprintf(src, sizeof(src), "%dx%dp%d audio=48000", w, h, rate);
        write("/sim/hdmi-in", src);
        ot_vo_pub_attr pub{0, 24, 23};
        ASSERT_EQ(ss_mpi_vo_set_pub_attr(0, &pub), 0);
        ASSERT_EQ(ss_mpi_vo_enable(0), 0);
        ot_vo_video_layer_attr layer{};
        layer.img_width = static_cast<uint32_t>(w);
        layer.img_height = static_cast<uint32_t>(h);
        ASSERT_EQ(ss_mpi_vo_set_video_layer_attr(0, &layer), 0);
        ASSERT_EQ(ss_mpi_vo_enable_video_layer(0), 0);
        ot_vo_chn_attr chn{};
        ASSERT_EQ(ss_mpi_vo_set_chn_attr(0, 0, &chn), 0);
        ASSERT_EQ(ss_mpi_vo_enable_chn(0, 0), 0);

        ot_vdec_chn_attr da{};
        da.payload = OT_PT_H264;
        da.send_mode = 1;
        da.width = 1920;
        da.height = 1080;
        da.stream_buf_size = 1920 * 1080;
        da.frame_buf_size = 3146496;
        ASSERT_EQ(ss_mpi_vdec_create_chn(0, &da), 0);
        ASSERT_EQ(ss_mpi_vdec_start_recv_stream(0), 0);
        ASSERT_EQ(ss_mpi_sys_bind(&vdec, &vo), 0);

        ot_venc_chn_attr ea{};
        ea.payload = OT_PT_H264;
        ea.max_width = 3840;
        ea.max_height = 2160;
        ea.width = static_cast<uint32_t>(w);
        ea.height = static_cast<uint32_t>(h);
        ea.rc = {1,
                 static_cast<uint32_t>(2 * rate),
                 1,
                 static_cast<uint32_t>(rate),
                 static_cast<uint32_t>(rate),
                 static_cast<uint32_t>(mbps * 1024)};
        ASSERT_EQ(ss_mpi_venc_create_chn(0, &ea), 0);
        ot_venc_start_param sp{-1};
        ASSERT_EQ(ss_mpi_venc_start_chn(0, &sp), 0);

        ot_vi_dev_attr dev{};
        dev.intf_mode = 3;
        ASSERT_EQ(ss_mpi_vi_set_dev_attr(3, &dev), 0);
        ASSERT_EQ(ss_mpi_vi_enable_dev(3), 0);
        ot_vi_chn_attr ca{};
        ca.width = ca.out_width = w;
        ca.height = ca.out_height = h;
        ca.src_frame_rate = ca.dst_frame_rate = rate;
        ASSERT_EQ(ss_mpi_vi_set_chn_attr(3, 12, &ca), 0);
        ASSERT_EQ(ss_mpi_vi_enable_chn(3, 12), 0);
        ASSERT_EQ(ss_mpi_sys_bind(&vi, &venc), 0);
    }

    // Moves encoded pictures to the decoder until n have gone or none came for wait_ms.
    int pump(int n, int wait_ms = 5000) {
        std::vector<ot_venc_pack> packs(64);
        int moved = 0;
        const int fd = ss_mpi_venc_get_fd(0);
        while (moved < n) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, wait_ms) <= 0)
                break;
            ot_venc_chn_status st{};
            if (ss_mpi_venc_query_status(0, &st) != 0 || st.cur_packs == 0)
                continue;
            ot_venc_stream s{packs.data(), static_cast<uint32_t>(packs.size()), 0};
            if (ss_mpi_venc_get_stream(0, &s, -1) != 0)
                break;
            std::vector<uint8_t> bytes;
            for (uint32_t i = 0; i < s.pack_cnt; ++i)
                bytes.insert(bytes.end(), s.pack[i].addr, s.pack[i].addr + s.pack[i].len);
            ot_vdec_stream ds{
                1, 0, 1, s.pack[0].pts, bytes.data(), static_cast<uint32_t>(bytes.size())};
            EXPECT_EQ(ss_mpi_vdec_send_stream(0, &ds, -1), 0);
            EXPECT_EQ(ss_mpi_venc_release_stream(0, &s), 0);
            ++moved;
        }
        return moved;
    }

    void wait_decoded(uint64_t n) {
        for (int i = 0; i < 500 && hdext::sim::vdec_decoded(0) < n; ++i)
            usleep(10000);
    }

    void stop() {
        ss_mpi_sys_unbind(&vi, &venc);
        ss_mpi_vi_disable_chn(3, 12);
        ss_mpi_vi_disable_dev(3);
        ss_mpi_venc_stop_chn(0);
        ss_mpi_venc_destroy_chn(0);
        ss_mpi_sys_unbind(&vdec, &vo);
        ss_mpi_vdec_stop_recv_stream(0);
        ss_mpi_vdec_destroy_chn(0);
        ss_mpi_vo_disable_chn(0, 0);
        ss_mpi_vo_disable_video_layer(0);
        ss_mpi_vo_disable(0);
    }

    const ot_mpp_chn vi{OT_ID_VI, 3, 12}, venc{OT_ID_VENC, 0, 0}, vdec{OT_ID_VDEC, 0, 0},
        vo{OT_ID_VO, 0, 0};
};

class StampThroughH264 : public SimPipeline,
                         public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(StampThroughH264, EveryPictureShowsItsStampInOrderAt6Mbps) {
    const auto [w, h] = GetParam();
    start(w, h, 60, 6);
    const int n = 40;
    ASSERT_EQ(pump(n), n);
    wait_decoded(n);
    const hdext::sim::VoStats s = hdext::sim::vo_stats(0, 0);
    const std::string status = read("/sim/hdmi-out/status");
    const std::string png = read("/sim/hdmi-out/snapshot.png");
    stop();
    EXPECT_GE(s.shown, static_cast<uint64_t>(n));
    EXPECT_EQ(s.stamped, s.shown);
    EXPECT_EQ(s.gaps, 0u);
    EXPECT_EQ(s.reordered, 0u);
    EXPECT_EQ(s.first_frame, 0);
    EXPECT_EQ(s.width, w);
    EXPECT_EQ(s.height, h);
    EXPECT_GT(s.latency_p50_us, 0u);
    EXPECT_NE(status.find("source=video\n"), std::string::npos) << status;
    EXPECT_NE(status.find("width=" + std::to_string(w) + "\n"), std::string::npos) << status;
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

INSTANTIATE_TEST_SUITE_P(Sizes, StampThroughH264,
                         ::testing::Values(std::make_pair(720, 480), std::make_pair(1280, 720),
                                           std::make_pair(1920, 1080)));

TEST_F(SimPipeline, UnbindingStopsThePictures) {
    start(720, 480, 60, 6);
    ASSERT_EQ(pump(5), 5);
    ASSERT_EQ(ss_mpi_sys_unbind(&vi, &venc), 0);
    const uint32_t produced = hdext::sim::vi_frames_produced(3, 12);
    pump(1000, 300); // drains what was already encoded
    const uint64_t encoded = hdext::sim::venc_stats(0).encoded;
    usleep(200000);
    EXPECT_EQ(hdext::sim::vi_frames_produced(3, 12), produced);
    EXPECT_EQ(hdext::sim::venc_stats(0).encoded, encoded);
    EXPECT_LE(encoded, produced);
    ot_venc_chn_status st{};
    ss_mpi_venc_query_status(0, &st);
    EXPECT_EQ(st.left_stream_frames, 0u);
    EXPECT_EQ(ss_mpi_sys_unbind(&vi, &venc), ot_err(OT_ID_SYS, OT_ERR_UNEXIST));
    stop();
}

TEST_F(SimPipeline, NoSourceNoPictures) {
    start(720, 480, 60, 6);
    write("/sim/hdmi-in", "none");
    usleep(400000); // the capture looks at the source every 200 ms
    const uint32_t before = hdext::sim::vi_frames_produced(3, 12);
    usleep(300000);
    EXPECT_EQ(hdext::sim::vi_frames_produced(3, 12), before);
    stop();
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

TEST_F(SimBoard, FullDecoderQueueRefusesWithoutWaiting) {
    ot_vdec_chn_attr da{};
    da.payload = OT_PT_H264;
    da.width = 1920;
    da.height = 1080;
    da.frame_buf_size = 1;
    hdext::sim::vdec_hold(6, true);
    ASSERT_EQ(ss_mpi_vdec_create_chn(6, &da), 0);
    ASSERT_EQ(ss_mpi_vdec_start_recv_stream(6), 0);
    uint8_t junk[16] = {};
    ot_vdec_stream s{1, 0, 1, 0, junk, sizeof(junk)};
    int accepted = 0;
    while (ss_mpi_vdec_send_stream(6, &s, 0) == 0 && accepted < 1000)
        ++accepted;
    EXPECT_EQ(accepted, 16);
    EXPECT_EQ(ss_mpi_vdec_send_stream(6, &s, 0), ot_err(OT_ID_VDEC, OT_ERR_BUF_FULL));
    hdext::sim::vdec_hold(6, false);
    ss_mpi_vdec_stop_recv_stream(6);
    ASSERT_EQ(ss_mpi_vdec_destroy_chn(6), 0);
}

TEST_F(SimBoard, PoolTablesAreBookkeepingOnly) {
    auto rss_kb = [] {
        std::ifstream in("/proc/self/statm");
        long pages = 0, resident = 0;
        in >> pages >> resident;
        return resident * (sysconf(_SC_PAGESIZE) / 1024);
    };
    const long before = rss_kb();
    ot_vb_cfg cfg{};
    cfg.max_pool_cnt = 8;
    for (int i = 0; i < 8; ++i)
        cfg.common_pool[i] = {12441600, 4, 0};
    ss_mpi_sys_exit();
    ss_mpi_vb_exit();
    ASSERT_EQ(ss_mpi_vb_set_cfg(&cfg), 0);
    ASSERT_EQ(ss_mpi_vb_init(), 0);
    ASSERT_EQ(ss_mpi_sys_init(), 0);
    EXPECT_LT(rss_kb() - before, 50 * 1024);
    ot_vb_cfg back{};
    ASSERT_EQ(ss_mpi_vb_get_cfg(&back), 0);
    EXPECT_EQ(back.common_pool[7].blk_size, 12441600u);
    cfg.max_pool_cnt = 17;
    EXPECT_NE(ss_mpi_vb_set_cfg(&cfg), 0);
    ss_mpi_sys_exit();
    ss_mpi_vb_exit();
}

TEST_F(SimBoard, SmokeProgramStreamsEveryFrameThroughTheFacade) {
    const std::string cmd =
        hdext::test::build_dir() + "/sim/mpi/media_smoke --seconds 1 --board " + root + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof(buf), p))
        out += buf;
    const int rc = pclose(p);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("1280x720@60 6 Mbit/s: captured"), std::string::npos) << out;
    EXPECT_NE(out.find("1920x1080@60 6 Mbit/s: captured"), std::string::npos) << out;
    EXPECT_EQ(out.find("FAILED"), std::string::npos) << out;
    const std::string status = read("/sim/hdmi-out/status");
    EXPECT_NE(status.find("hdmi_audio_rate=48000\n"), std::string::npos) << status;
    EXPECT_NE(status.find("hdmi_video_format=0\n"), std::string::npos) << status;
}

} // namespace
} // namespace hdext::test
