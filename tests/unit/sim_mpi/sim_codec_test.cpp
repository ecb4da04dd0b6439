// The software encoder's descriptor and packs, and the still-picture (JPEG) path.
#include "mpi/mpi.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include "sim/mpi/stamp.h"
#include "sim_board.h"
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

namespace hdext::test {
namespace {

AVFrame* picture(int w, int h, uint32_t k) {
    AVFrame* f = av_frame_alloc();
    f->format = AV_PIX_FMT_NV12;
    f->width = w;
    f->height = h;
    EXPECT_EQ(av_frame_get_buffer(f, 32), 0);
    hdext::sim::draw_test_picture(f->data[0], f->linesize[0], f->data[1], f->linesize[1], w, h, k);
    hdext::sim::write_stamp(f->data[0], f->linesize[0], w, h, hdext::sim::Stamp{k, 1000u + k});
    f->pts = 1000 + k;
    return f;
}

void create_encoder(int chn, int payload, int w, int h) {
    ot_venc_chn_attr a{};
    a.payload = payload;
    a.max_width = 3840;
    a.max_height = 2160;
    a.width = static_cast<uint32_t>(w);
    a.height = static_cast<uint32_t>(h);
    a.rc = {1, 120, 1, 60, 60, 6 * 1024};
    ASSERT_EQ(ss_mpi_venc_create_chn(chn, &a), 0);
    const ot_venc_start_param sp{-1};
    ASSERT_EQ(ss_mpi_venc_start_chn(chn, &sp), 0);
}

bool wait_waiting(int chn, uint32_t n) {
    for (int i = 0; i < 500; ++i) {
        ot_venc_chn_status st{};
        ss_mpi_venc_query_status(chn, &st);
        if (st.left_stream_frames >= n)
            return true;
        usleep(10000);
    }
    return false;
}

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

TEST_F(SimBoard, EncoderDescriptorIsReadableWhilePicturesWait) {
    create_encoder(4, OT_PT_H264, 720, 480);
    const int fd = ss_mpi_venc_get_fd(4);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(readable(fd));
    for (uint32_t k = 0; k < 2; ++k) {
        AVFrame* f = picture(720, 480, k);
        hdext::sim::venc_sink(0, 4, hdext::sim::Picture{f, false});
        av_frame_free(&f);
    }
    ASSERT_TRUE(wait_waiting(4, 2));
    EXPECT_TRUE(readable(fd));
    ASSERT_EQ(ss_mpi_venc_close_fd(4), 0);
    const int fd2 = ss_mpi_venc_get_fd(4);
    ASSERT_GE(fd2, 0);
    EXPECT_TRUE(readable(fd2)); // a new descriptor knows what already waits

    std::vector<ot_venc_pack> packs(16);
    for (uint64_t k = 0; k < 2; ++k) {
        ot_venc_chn_status st{};
        ASSERT_EQ(ss_mpi_venc_query_status(4, &st), 0);
        EXPECT_EQ(st.left_stream_frames, 2 - k);
        ot_venc_stream s{packs.data(), st.cur_packs, 0};
        ASSERT_EQ(ss_mpi_venc_get_stream(4, &s, 0), 0);
        EXPECT_EQ(s.pack_cnt, st.cur_packs);
        for (uint32_t i = 0; i < s.pack_cnt; ++i) {
            EXPECT_EQ(s.pack[i].pts, 1000 + k); // every pack carries the capture time
            ASSERT_GE(s.pack[i].len, 4u);
            EXPECT_EQ(s.pack[i].addr[s.pack[i].addr[2] == 1 ? 2 : 3],
                      1); // each pack is one NAL unit
        }
        if (k == 0) {
            EXPECT_GE(s.pack_cnt, 3u); // parameter sets travel with the key picture
        }
        ASSERT_EQ(ss_mpi_venc_release_stream(4, &s), 0);
    }
    EXPECT_FALSE(readable(fd2));
    ot_venc_stream none{packs.data(), 16, 0};
    EXPECT_EQ(ss_mpi_venc_get_stream(4, &none, 0), ot_err(OT_ID_VENC, OT_ERR_BUF_EMPTY));
    ss_mpi_venc_stop_chn(4);
    ASSERT_EQ(ss_mpi_venc_destroy_chn(4), 0);
    EXPECT_EQ(ss_mpi_venc_get_fd(4), -1);
}

TEST_F(SimBoard, WrongSizedPicturesAreDroppedNotEncoded) {
    create_encoder(5, OT_PT_H264, 720, 480);
    AVFrame* f = picture(1280, 720, 0);
    hdext::sim::venc_sink(0, 5, hdext::sim::Picture{f, false});
    av_frame_free(&f);
    for (int i = 0; i < 200 && hdext::sim::venc_stats(5).dropped == 0; ++i)
        usleep(5000);
    EXPECT_EQ(hdext::sim::venc_stats(5).dropped, 1u);
    EXPECT_EQ(hdext::sim::venc_stats(5).encoded, 0u);
    ss_mpi_venc_stop_chn(5);
    ss_mpi_venc_destroy_chn(5);
}

TEST_F(SimBoard, JpegPictureIsShownAsAStill) {
    create_encoder(6, OT_PT_JPEG, 1920, 1080);
    AVFrame* f = picture(1920, 1080, 3);
    hdext::sim::venc_sink(0, 6, hdext::sim::Picture{f, false});
    av_frame_free(&f);
    ASSERT_TRUE(wait_waiting(6, 1));
    std::vector<ot_venc_pack> packs(4);
    ot_venc_stream s{packs.data(), 4, 0};
    ASSERT_EQ(ss_mpi_venc_get_stream(6, &s, -1), 0);
    ASSERT_EQ(s.pack_cnt, 1u);
    std::vector<uint8_t> jpeg(s.pack[0].addr, s.pack[0].addr + s.pack[0].len);
    ss_mpi_venc_release_stream(6, &s);
    ss_mpi_venc_stop_chn(6);
    ss_mpi_venc_destroy_chn(6);
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);

    // The status-picture pipeline: decoder 1 (JPEG) bound to output 1/1.
    ot_vo_pub_attr pub{0, 24, 23};
    ss_mpi_vo_set_pub_attr(1, &pub);
    ss_mpi_vo_enable(1);
    ot_vo_video_layer_attr layer{};
    ss_mpi_vo_set_video_layer_attr(1, &layer);
    ss_mpi_vo_enable_video_layer(1);
    ot_vo_chn_attr chn{};
    ss_mpi_vo_set_chn_attr(1, 1, &chn);
    ASSERT_EQ(ss_mpi_vo_enable_chn(1, 1), 0);
    ot_vdec_chn_attr da{};
    da.payload = OT_PT_MJPEG;
    da.send_mode = 1;
    da.width = 1920;
    da.height = 1080;
    da.frame_buf_size = 1920 * 1088 * 3 / 2;
    ASSERT_EQ(ss_mpi_vdec_create_chn(1, &da), 0);
    ASSERT_EQ(ss_mpi_vdec_start_recv_stream(1), 0);
    const ot_mpp_chn src{OT_ID_VDEC, 0, 1}, dst{OT_ID_VO, 1, 1};
    ASSERT_EQ(ss_mpi_sys_bind(&src, &dst), 0);
    EXPECT_EQ(ss_mpi_sys_bind(&src, &dst),
              ot_err(OT_ID_SYS, OT_ERR_EXIST)); // one source per output
    for (int i = 0; i < 2; ++i) {
        ot_vdec_stream vs{1, 0, 1, 0, jpeg.data(), static_cast<uint32_t>(jpeg.size())};
        ASSERT_EQ(ss_mpi_vdec_send_stream(1, &vs, -1), 0);
    }
    for (int i = 0; i < 300 && hdext::sim::vo_stats(1, 1).shown < 2; ++i)
        usleep(10000);
    const hdext::sim::VoStats st = hdext::sim::vo_stats(1, 1);
    const std::string status = read("/sim/hdmi-out/status");
    ss_mpi_sys_unbind(&src, &dst);
    ss_mpi_vdec_stop_recv_stream(1);
    ss_mpi_vdec_destroy_chn(1);
    ss_mpi_vo_disable_chn(1, 1);
    ss_mpi_vo_disable_video_layer(1);
    ss_mpi_vo_disable(1);
    EXPECT_EQ(st.shown, 2u);
    EXPECT_TRUE(st.still);
    EXPECT_EQ(st.stamped, 0u); // stills are not counted as video
    EXPECT_EQ(st.width, 1920);
    EXPECT_NE(status.find("source=picture\n"), std::string::npos) << status;
    EXPECT_NE(status.find("output=1/1\n"), std::string::npos) << status;
}

} // namespace
} // namespace hdext::test
