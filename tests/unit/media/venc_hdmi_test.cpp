// Encoder and HDMI wrappers through the facade.
#include "core/frame.h"
#include "core/mempool.h"
#include "media/codec.h"
#include "media_test_util.h"
#include <gtest/gtest.h>
#include <vector>

namespace hdext::test {
namespace {

class VideoEncoder : public MediaTest {
  protected:
    void SetUp() override {
        MediaTest::SetUp();
        codec->VENC_Create(0);
        codec->SetResolution(23, 16, 60, 1920, 1080);
        codec->VENC_SetBitrate(0, 6);
    }
};

TEST_F(VideoEncoder, H264StartsWithConstantBitRateFromTheStoredGeometry) {
    ASSERT_EQ(codec->VENC_Start(0), 0);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_venc_create_chn", "ss_mpi_venc_get_chn_attr",
                                    "ss_mpi_venc_get_rc_param", "ss_mpi_venc_set_rc_param",
                                    "ss_mpi_venc_start_chn"}));
    auto a = rec().find("ss_mpi_venc_create_chn").as<ot_venc_chn_attr>();
    EXPECT_EQ(a.payload, 96);
    EXPECT_EQ(a.rc.rc_mode, 1);
    EXPECT_EQ(a.rc.gop, 120u) << "two seconds of pictures";
    EXPECT_EQ(a.rc.bit_rate, 6u * 1024u);
    EXPECT_EQ(rec().find("ss_mpi_venc_start_chn").as<ot_venc_start_param>().recv_pic_num, -1);

    rec().reset();
    codec->VENC_Stop(0);
    codec->SetResolution(10, 16, 50, 1280, 720);
    codec->VENC_SetBitrate(0, 12);
    codec->VENC_Start(0);
    a = rec().find("ss_mpi_venc_create_chn").as<ot_venc_chn_attr>();
    EXPECT_EQ(a.rc.bit_rate, 12288u);
    EXPECT_EQ(a.rc.gop, 100u);
    EXPECT_EQ(a.width, 1280u);
    EXPECT_EQ(a.height, 720u);

    codec->VENC_Stop(0);
    rec().reset();  // a payload other than 96, 265, 26 and 1002 fails before any platform call
    codec->VENC_SetEncodeType(0, 97);
    const std::string out =
        printed([&] { EXPECT_EQ(codec->VENC_Start(0), static_cast<int>(0xa008800cu)); });
    EXPECT_NE(out.find("can't support this type (97) in this version!\n"), std::string::npos);
    EXPECT_TRUE(rec().calls.empty());
}

TEST_F(VideoEncoder, AttributeChangeRestartsWithTheNewSize) {
    codec->VENC_Start(0);
    rec().reset();
    codec->SetResolution(10, 16, 60, 1280, 720);
    ASSERT_EQ(codec->VENC_SetEncodeAttr(0), 0);
    EXPECT_EQ(rec().names(),
              (Names{"ss_mpi_venc_stop_chn", "ss_mpi_venc_set_chn_attr", "ss_mpi_venc_start_chn"}));
    EXPECT_EQ(rec().find("ss_mpi_venc_set_chn_attr").as<ot_venc_chn_attr>().width, 1280u);
    rec().reset();
    codec->VENC_Stop(0);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_venc_stop_chn", "ss_mpi_venc_destroy_chn"}));
}

TEST_F(VideoEncoder, ARateInKbitIsKeptForTheNextStartUntilTheStepIsSetAgain) {
    EXPECT_EQ(codec->VENC_SetBitrateKbps(0, 3000), 0);
    EXPECT_TRUE(rec().calls.empty()) << "a channel not started only keeps it";
    codec->VENC_Start(0); // the running channel's change: the encode task's test
    EXPECT_EQ(rec().find("ss_mpi_venc_create_chn").as<ot_venc_chn_attr>().rc.bit_rate, 3000u);
    codec->VENC_Stop(0);
    codec->VENC_SetBitrate(0, 6);
    rec().reset();
    codec->VENC_Start(0);
    EXPECT_EQ(rec().find("ss_mpi_venc_create_chn").as<ot_venc_chn_attr>().rc.bit_rate, 6144u);
}

class EncoderStream : public VideoEncoder {
  protected:
    void SetUp() override {
        VideoEncoder::SetUp();
        init_frame_buff_mgr(16, 4096);
    }
    void TearDown() override {
        destroy_frame_buff_mgr(0);
        VideoEncoder::TearDown();
    }
};

TEST_F(EncoderStream, OnePictureBecomesOneFrameOfItsPacksWithoutOffsets) {
    std::vector<uint8_t> a(5000), b(300);
    for (size_t i = 0; i < a.size(); ++i)
        a[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<uint8_t>(200 - i);
    rec().plant(ot_venc_chn_status{1, 2});
    rec().packs = {ot_venc_pack{a.data(), 5000, 4, 777, 0}, ot_venc_pack{b.data(), 300, 0, 778, 0}};
    int total = 0;
    frame_buff* f = codec->VENC_GetStream(0, &total);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(total, 4996 + 300);
    EXPECT_EQ(f->kind, kFrameKindVideo);
    EXPECT_EQ(f->pts, 777u);
    EXPECT_EQ(f->total, 5296u);
    std::vector<uint8_t> got(f->data, f->data + f->len);
    for (frame_buff* n = frame_ctl_of(f)->chain; n; n = frame_ctl_of(n)->chain)
        got.insert(got.end(), n->data, n->data + n->len);
    std::vector<uint8_t> want(a.begin() + 4, a.end());
    want.insert(want.end(), b.begin(), b.end());
    EXPECT_EQ(got, want);
    free_frame(f);
    EXPECT_EQ(rec().find("ss_mpi_venc_get_stream").args, (std::vector<long long>{0, -1}));
    EXPECT_EQ(rec().count("ss_mpi_venc_release_stream"), 1);
}

TEST_F(EncoderStream, NothingWaitingAFailedReleaseOrABadChannelGiveNoFrame) {
    int total = 0;
    rec().plant(ot_venc_chn_status{0, 0});
    EXPECT_EQ(codec->VENC_GetStream(0, &total), nullptr);
    EXPECT_EQ(rec().count("ss_mpi_venc_get_stream"), 0);

    std::vector<uint8_t> a(100, 1);
    rec().plant(ot_venc_chn_status{1, 1});
    rec().packs = {ot_venc_pack{a.data(), 100, 0, 1, 0}};
    rec().results["ss_mpi_venc_release_stream"] = 0x77;
    std::string out = printed([&] { EXPECT_EQ(codec->VENC_GetStream(0, &total), nullptr); });
    EXPECT_NE(out.find("ss_mpi_venc_release_stream failed!"), std::string::npos);
    EXPECT_EQ(frame_pool(kFrameKindVideo, true)->used, 0) << "the picture's frame is freed";

    rec().reset();
    out = printed([&] { EXPECT_EQ(codec->VENC_GetStream(128, &total), nullptr); });
    EXPECT_EQ(out, " !!!!   VENC_GetStream :Chn(128) exceeds the maximum value\n");
    EXPECT_TRUE(rec().calls.empty());
}

using Hdmi = MediaTest;

TEST_F(Hdmi, StartSetsFormatAudioRateAndDepth) {
    codec->HDMI_Create(0);
    codec->HDMI_SetType(0, 23, 44100, 1);
    ASSERT_EQ(codec->HDMI_Start(0), 0);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_hdmi_init", "ss_mpi_hdmi_open", "ss_mpi_hdmi_get_attr",
                                    "ss_mpi_hdmi_set_attr", "ss_mpi_hdmi_start"}));
    const auto a = rec().find("ss_mpi_hdmi_set_attr").as<ot_hdmi_attr>();
    EXPECT_EQ(a.video_format, 0);
    EXPECT_EQ(a.sample_rate, 8);
    rec().reset();
    codec->HDMI_Change(0);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_hdmi_stop", "ss_mpi_hdmi_get_attr",
                                    "ss_mpi_hdmi_set_attr", "ss_mpi_hdmi_start"}));
    rec().reset();
    codec->HDMI_Stop(0);
    EXPECT_EQ(rec().names(),
              (Names{"ss_mpi_hdmi_stop", "ss_mpi_hdmi_close", "ss_mpi_hdmi_deinit"}));
}

} // namespace
} // namespace hdext::test
