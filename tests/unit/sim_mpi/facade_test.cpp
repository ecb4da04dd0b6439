// The receiver's two pipelines through the facade on the software platform: a still picture on
// output 1/1, then live video on output 0/0, with the HDMI output reporting which one shows.
#include "media/codec.h"
#include "mpi/mpi.h"
#include "sim/mpi/sim_control.h"
#include "sim_board.h"
#include "support/platform_pictures.h"
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace hdext::test {
namespace {

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
    const auto jpegs = platform_pictures(OT_PT_JPEG, 1920, 1080, 1);
    ASSERT_EQ(jpegs.size(), 1u);

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
    std::vector<uint8_t> buf = jpegs[0];
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
    auto live_pics = platform_pictures(OT_PT_H264, 1280, 720, 10);
    ASSERT_EQ(live_pics.size(), 10u);
    for (auto& bytes : live_pics) {
        _MEDIA_FRAME_COMM_INFO v{bytes.data(), static_cast<uint32_t>(bytes.size()), 0};
        ASSERT_EQ(INTF_VDEC_SendStream(0, &v), 0);
    }
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
    for (const char* stage : hdext::sim::kStageNames)
        EXPECT_NE(video.find(std::string("stage_") + stage + "_p99_us="), std::string::npos) << video;

    INTF_SYS_UNBIND(5, 0, 0, 15, 0, 0);
    INTF_VO_Stop(0, 0);
    // Each stamped picture has its timeline line once the output stops.
    std::istringstream timeline(read("/sim/hdmi-out/timeline"));
    uint64_t shown_us = 0, latency_us = 0;
    int64_t frame = 0, next = 0;
    while (timeline >> shown_us >> frame >> latency_us) {
        EXPECT_EQ(frame, next++);
        EXPECT_GT(latency_us, 0u);
        EXPECT_LT(latency_us, 10000000u);
    }
    EXPECT_EQ(next, 10);
    INTF_VDEC_Stop(0);
    INTF_VDEC_Stop(1);
    INTF_HDMI_Stop(0);
    INTF_CodecExit();
}

} // namespace
} // namespace hdext::test
