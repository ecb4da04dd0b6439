// The receiver's two pipelines through the facade on the software platform: a still picture on
// output 1/1, then live video on output 0/0, with the HDMI output reporting which one shows.
#include "media/codec.h"
#include "mpi/mpi.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include "sim/mpi/stamp.h"
#include "sim_board.h"
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

namespace hdext::test {
namespace {

// A 1920x1080 JPEG made by the platform's own encoder.
std::vector<uint8_t> make_jpeg() {
    ot_venc_chn_attr a{};
    a.payload = OT_PT_JPEG;
    a.max_width = 3840;
    a.max_height = 2160;
    a.width = 1920;
    a.height = 1080;
    EXPECT_EQ(ss_mpi_venc_create_chn(9, &a), 0);
    const ot_venc_start_param sp{-1};
    ss_mpi_venc_start_chn(9, &sp);
    AVFrame* f = av_frame_alloc();
    f->format = AV_PIX_FMT_NV12;
    f->width = 1920;
    f->height = 1080;
    av_frame_get_buffer(f, 32);
    hdext::sim::draw_test_picture(f->data[0], f->linesize[0], f->data[1], f->linesize[1], 1920,
                                  1080, 0);
    hdext::sim::venc_sink(0, 9, hdext::sim::Picture{f, false});
    av_frame_free(&f);
    std::vector<ot_venc_pack> packs(4);
    ot_venc_stream s{packs.data(), 4, 0};
    std::vector<uint8_t> out;
    if (ss_mpi_venc_get_stream(9, &s, 5000) == 0) {
        out.assign(s.pack[0].addr, s.pack[0].addr + s.pack[0].len);
        ss_mpi_venc_release_stream(9, &s);
    }
    ss_mpi_venc_stop_chn(9);
    ss_mpi_venc_destroy_chn(9);
    return out;
}

class ReceiverPipelines : public SimBoard {
  protected:
    void SetUp() override {
        SimBoard::SetUp();
        saved = g_pCodec;
        g_pCodec = new CCodec();
    }
    void TearDown() override {
        delete g_pCodec;
        g_pCodec = saved;
        SimBoard::TearDown();
    }
    CCodec* saved = nullptr;
};

TEST_F(ReceiverPipelines, StillPictureThenLiveVideoOnTheHdmiOutput) {
    const std::vector<uint8_t> jpeg = make_jpeg();
    ASSERT_GT(jpeg.size(), 100u);

    // Start-up: the picture pipeline at 1080p60 with 48 kHz HDMI audio.
    ASSERT_EQ(INTF_CodecInit(), 0);
    INTF_VO_Create(0, 0, 0);
    INTF_VDEC_Create(0);
    INTF_VO_Create(1, 1, 1);
    INTF_VDEC_Create(1);
    INTF_SetResolution(23, 24, 60, 1920, 1080);
    ASSERT_EQ(INTF_VO_Start(1, 1), 0);
    INTF_HDMI_Create(0);
    INTF_HDMI_SetType(0, 23, 48000, 1);
    ASSERT_EQ(INTF_HDMI_Start(0), 0);
    INTF_VDEC_SetDecodeType(1, 1002, 1);
    ASSERT_EQ(INTF_VDEC_Start(1), 0);
    ASSERT_EQ(INTF_SYS_BIND(5, 0, 1, 15, 1, 1), 0);
    std::vector<uint8_t> buf = jpeg;
    _MEDIA_FRAME_COMM_INFO info{buf.data(), static_cast<uint32_t>(buf.size()), 0};
    ASSERT_EQ(INTF_VDEC_SendStream(1, &info), 0);
    ASSERT_EQ(INTF_VDEC_SendStream(1, &info), 0);
    for (int i = 0; i < 300 && hdext::sim::vo_stats(1, 1).shown < 2; ++i)
        usleep(10000);
    const std::string still = read("/sim/hdmi-out/status");
    EXPECT_NE(still.find("source=picture\n"), std::string::npos) << still;
    EXPECT_NE(still.find("hdmi_video_format=0\n"), std::string::npos) << still;
    EXPECT_NE(still.find("hdmi_audio_rate=48000\n"), std::string::npos) << still;

    // First transmitter: picture pipeline down, video pipeline up at 720p50 with 44.1 kHz.
    ASSERT_EQ(INTF_SYS_UNBIND(5, 0, 1, 15, 1, 1), 0);
    INTF_VO_Stop(1, 1);
    INTF_VDEC_StopRecv(1);
    INTF_VDEC_ResetChn(1);
    INTF_SetResolution(9, 24, 50, 1280, 720);
    ASSERT_EQ(INTF_VO_Start(0, 0), 0);
    INTF_HDMI_SetType(0, 9, 44100, 1);
    ASSERT_EQ(INTF_HDMI_Change(0), 0);
    INTF_VDEC_SetDecodeType(0, 96, 1);
    ASSERT_EQ(INTF_VDEC_Start(0), 0);
    ASSERT_EQ(INTF_SYS_BIND(5, 0, 0, 15, 0, 0), 0);

    // Live pictures made by the platform's encoder at 1280x720.
    ot_venc_chn_attr a{};
    a.payload = OT_PT_H264;
    a.max_width = 3840;
    a.max_height = 2160;
    a.width = 1280;
    a.height = 720;
    a.rc = {1, 100, 1, 50, 50, 6 * 1024};
    ASSERT_EQ(ss_mpi_venc_create_chn(8, &a), 0);
    const ot_venc_start_param sp{-1};
    ss_mpi_venc_start_chn(8, &sp);
    std::vector<ot_venc_pack> packs(32);
    for (uint32_t k = 0; k < 10; ++k) {
        AVFrame* f = av_frame_alloc();
        f->format = AV_PIX_FMT_NV12;
        f->width = 1280;
        f->height = 720;
        av_frame_get_buffer(f, 32);
        hdext::sim::draw_test_picture(f->data[0], f->linesize[0], f->data[1], f->linesize[1], 1280,
                                      720, k);
        hdext::sim::write_stamp(f->data[0], f->linesize[0], 1280, 720,
                                hdext::sim::Stamp{k, hdext::sim::now_us()});
        f->pts = static_cast<int64_t>(hdext::sim::now_us());
        hdext::sim::venc_sink(0, 8, hdext::sim::Picture{f, false});
        av_frame_free(&f);
        ot_venc_stream s{packs.data(), 32, 0};
        ASSERT_EQ(ss_mpi_venc_get_stream(8, &s, 5000), 0);
        std::vector<uint8_t> bytes;
        for (uint32_t i = 0; i < s.pack_cnt; ++i)
            bytes.insert(bytes.end(), s.pack[i].addr, s.pack[i].addr + s.pack[i].len);
        ss_mpi_venc_release_stream(8, &s);
        _MEDIA_FRAME_COMM_INFO v{bytes.data(), static_cast<uint32_t>(bytes.size()), 0};
        ASSERT_EQ(INTF_VDEC_SendStream(0, &v), 0);
    }
    ss_mpi_venc_stop_chn(8);
    ss_mpi_venc_destroy_chn(8);
    for (int i = 0; i < 300 && hdext::sim::vo_stats(0, 0).shown < 10; ++i)
        usleep(10000);
    const hdext::sim::VoStats live = hdext::sim::vo_stats(0, 0);
    EXPECT_EQ(live.shown, 10u);
    EXPECT_EQ(live.stamped, 10u);
    EXPECT_EQ(live.gaps, 0u);
    EXPECT_EQ(live.last_frame, 9);
    const std::string video = read("/sim/hdmi-out/status");
    EXPECT_NE(video.find("source=video\n"), std::string::npos) << video;
    EXPECT_NE(video.find("output=0/0\n"), std::string::npos) << video;
    EXPECT_NE(video.find("timing=9\n"), std::string::npos) << video;
    EXPECT_NE(video.find("hdmi_video_format=8\n"), std::string::npos) << video;
    EXPECT_NE(video.find("hdmi_audio_rate=44100\n"), std::string::npos) << video;

    INTF_SYS_UNBIND(5, 0, 0, 15, 0, 0);
    INTF_VO_Stop(0, 0);
    INTF_VDEC_Stop(0);
    INTF_VDEC_Stop(1);
    INTF_HDMI_Stop(0);
    INTF_CodecExit();
}

} // namespace
} // namespace hdext::test
