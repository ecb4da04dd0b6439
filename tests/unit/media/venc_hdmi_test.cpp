// Encoder and HDMI wrappers through the facade.
#include "core/frame.h"
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

TEST_F(VideoEncoder, H264StartsWithConstantBitRateAndLowLatencyRecord) {
    ASSERT_EQ(codec->VENC_Start(0), 0);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_venc_create_chn", "ss_mpi_venc_get_chn_attr",
                                    "ss_mpi_venc_get_rc_param", "ss_mpi_venc_set_rc_param",
                                    "ss_mpi_venc_start_chn"}));
    const auto a = rec().find("ss_mpi_venc_create_chn").as<ot_venc_chn_attr>();
    EXPECT_EQ(a.payload, 96);
    EXPECT_EQ(a.max_width, 3840u);
    EXPECT_EQ(a.max_height, 2160u);
    EXPECT_EQ(a.buf_size, 6220800u);
    EXPECT_EQ(a.profile, 2u);
    EXPECT_EQ(a.by_frame, 1);
    EXPECT_EQ(a.width, 1920u);
    EXPECT_EQ(a.height, 1080u);
    EXPECT_EQ(a.ref_share, 0);
    EXPECT_EQ(a.frame_buf_ratio, 100u);
    EXPECT_EQ(a.rc.rc_mode, 1);
    EXPECT_EQ(a.rc.gop, 120u);
    EXPECT_EQ(a.rc.stats_time, 1u);
    EXPECT_EQ(a.rc.src_frame_rate, 60u);
    EXPECT_EQ(a.rc.dst_frame_rate, 60u);
    EXPECT_EQ(a.rc.bit_rate, 6u * 1024u);
    EXPECT_EQ(a.gop.gop_mode, 0);
    EXPECT_EQ(a.gop.ip_qp_delta, -1);
    const auto rc = rec().find("ss_mpi_venc_set_rc_param").as<ot_venc_rc_param>();
    EXPECT_EQ(rc.cbr[0], 40u);
    EXPECT_EQ(rc.cbr[1], 10u);
    EXPECT_EQ(rc.cbr[2], 10u);
    EXPECT_EQ(rc.cbr[3], 0u);
    EXPECT_EQ(rec().find("ss_mpi_venc_start_chn").as<ot_venc_start_param>().recv_pic_num, -1);
}

TEST_F(VideoEncoder, JpegGetsAZeroedGopAndAPictureSizedBuffer) {
    for (int payload : {26, 1002}) {
        rec().reset();
        codec->VENC_SetEncodeType(0, payload);
        ASSERT_EQ(codec->VENC_Start(0), 0);
        const auto a = rec().find("ss_mpi_venc_create_chn").as<ot_venc_chn_attr>();
        EXPECT_EQ(a.payload, payload);
        EXPECT_EQ(a.buf_size, 2160u * 3840u * 4u);
        EXPECT_EQ(a.gop.gop_mode, 0);
        EXPECT_EQ(a.gop.ip_qp_delta, 0);
        EXPECT_EQ(a.rc.bit_rate, 6u * 1024u); // rate control is set for every payload
    }
}

TEST_F(VideoEncoder, UnsupportedPayloadFailsBeforeAnyPlatformCall) {
    codec->VENC_SetEncodeType(0, 97);
    const std::string out =
        printed([&] { EXPECT_EQ(codec->VENC_Start(0), static_cast<int>(0xa008800cu)); });
    EXPECT_NE(out.find("can't support this type (97) in this version!\n"), std::string::npos);
    EXPECT_TRUE(rec().calls.empty());
}

TEST_F(VideoEncoder, BitRateAndGopFollowTheStoredValues) {
    codec->SetResolution(10, 16, 50, 1280, 720);
    codec->VENC_SetBitrate(0, 12);
    codec->VENC_Start(0);
    const auto a = rec().find("ss_mpi_venc_create_chn").as<ot_venc_chn_attr>();
    EXPECT_EQ(a.rc.bit_rate, 12288u);
    EXPECT_EQ(a.rc.gop, 100u);
    EXPECT_EQ(a.width, 1280u);
}

TEST_F(VideoEncoder, CreateFailureStopsTheStartWithTheCode) {
    rec().results["ss_mpi_venc_create_chn"] = 0x55;
    const std::string out = printed([&] { EXPECT_EQ(codec->VENC_Start(0), 0x55); });
    EXPECT_NE(out.find("ss_mpi_venc_create_chn [0] failed with 0x55! ===\n"), std::string::npos);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_venc_create_chn"}));
}

TEST_F(VideoEncoder, AttributeChangeRestartsWithTheNewSize) {
    codec->VENC_Start(0);
    rec().reset();
    codec->SetResolution(10, 16, 60, 1280, 720);
    ASSERT_EQ(codec->VENC_SetEncodeAttr(0), 0);
    EXPECT_EQ(rec().names(),
              (Names{"ss_mpi_venc_stop_chn", "ss_mpi_venc_set_chn_attr", "ss_mpi_venc_start_chn"}));
    const auto a = rec().find("ss_mpi_venc_set_chn_attr").as<ot_venc_chn_attr>();
    EXPECT_EQ(a.width, 1280u);
    EXPECT_EQ(a.height, 720u);
    EXPECT_EQ(a.buf_size, 6220800u);
    rec().reset();
    codec->VENC_Stop(0);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_venc_stop_chn", "ss_mpi_venc_destroy_chn"}));
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

TEST_F(EncoderStream, NoPackWaitingGivesNoFrameAndNoRead) {
    rec().plant(ot_venc_chn_status{0, 0});
    int total = 0;
    EXPECT_EQ(codec->VENC_GetStream(0, &total), nullptr);
    EXPECT_EQ(rec().count("ss_mpi_venc_get_stream"), 0);
    EXPECT_EQ(total, 0);
}

TEST_F(EncoderStream, ReleaseFailureDropsThePicture) {
    std::vector<uint8_t> a(100, 1);
    rec().plant(ot_venc_chn_status{1, 1});
    rec().packs = {ot_venc_pack{a.data(), 100, 0, 1, 0}};
    rec().results["ss_mpi_venc_release_stream"] = 0x77;
    int total = 0;
    const std::string out = printed([&] { EXPECT_EQ(codec->VENC_GetStream(0, &total), nullptr); });
    EXPECT_NE(out.find("ss_mpi_venc_release_stream failed!"), std::string::npos);
}

TEST_F(EncoderStream, BadChannelGivesNoFrame) {
    int total = 0;
    const std::string out =
        printed([&] { EXPECT_EQ(codec->VENC_GetStream(128, &total), nullptr); });
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
    EXPECT_EQ(a.hdmi_enable, 1);
    EXPECT_EQ(a.video_format, 0);
    EXPECT_EQ(a.deep_color, 0);
    EXPECT_EQ(a.audio_enable, 1);
    EXPECT_EQ(a.sample_rate, 8);
    EXPECT_EQ(a.bit_depth, 2);
    rec().reset();
    codec->HDMI_Change(0);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_hdmi_stop", "ss_mpi_hdmi_get_attr",
                                    "ss_mpi_hdmi_set_attr", "ss_mpi_hdmi_start"}));
    rec().reset();
    codec->HDMI_Stop(0);
    EXPECT_EQ(rec().names(),
              (Names{"ss_mpi_hdmi_stop", "ss_mpi_hdmi_close", "ss_mpi_hdmi_deinit"}));
}

TEST_F(Hdmi, FormatTableAndAudioCodes) {
    const int formats[49] = {11, 12, 41, 41, 13, 10, 9,  14, 15, 8,  7,  16, 17, 18, 20, 19, 22,
                             4,  3,  2,  6,  5,  1,  0,  21, 23, 27, 24, 25, 26, 28, 29, 30, 31,
                             32, 33, 34, 35, 36, 37, 40, 41, 41, 41, 41, 41, 41, 41, 41};
    CHDMI h;
    h.HDMI_init(0);
    for (int sync = 0; sync < 49; ++sync) {
        rec().reset();
        h.HDMI_SetType(sync, 48000, 1);
        h.HDMI_Change();
        EXPECT_EQ(rec().find("ss_mpi_hdmi_set_attr").as<ot_hdmi_attr>().video_format, formats[sync])
            << sync;
    }
    h.HDMI_SetType(60, 48000, 1); // unknown timing keeps the format
    const std::pair<int, int> rates[] = {{8000, 1},  {11025, 2},  {12000, 3}, {16000, 4},
                                         {22050, 5}, {24000, 6},  {32000, 7}, {44100, 8},
                                         {48000, 9}, {96000, 11}, {12345, 11}};
    for (const auto& [rate, code] : rates) {
        rec().reset();
        h.HDMI_SetType(60, rate, 1);
        h.HDMI_Change();
        const auto a = rec().find("ss_mpi_hdmi_set_attr").as<ot_hdmi_attr>();
        EXPECT_EQ(a.sample_rate, code) << rate;
        EXPECT_EQ(a.video_format, 41);
    }
    const std::pair<int, int> widths[] = {{0, 1}, {1, 2}, {2, 5}, {7, 5}};
    for (const auto& [width, code] : widths) {
        rec().reset();
        h.HDMI_SetType(23, 48000, width);
        h.HDMI_Change();
        EXPECT_EQ(rec().find("ss_mpi_hdmi_set_attr").as<ot_hdmi_attr>().bit_depth, code) << width;
    }
}

TEST_F(Hdmi, FailurePrintsTheCallAndReturnsItsCode) {
    codec->HDMI_Create(0);
    rec().results["ss_mpi_hdmi_set_attr"] = static_cast<int>(0xa0198003u);
    const std::string out =
        printed([&] { EXPECT_EQ(codec->HDMI_Start(0), static_cast<int>(0xa0198003u)); });
    EXPECT_NE(out.find("\033[0;31mss_mpi_hdmi_set_attr failed at HDMI_Start: LINE: "),
              std::string::npos);
    EXPECT_NE(out.find(" with 0xa0198003!\033[0;39m\n"), std::string::npos);
    EXPECT_EQ(rec().count("ss_mpi_hdmi_start"), 0);
}

TEST_F(Hdmi, OnlyInterfaceZeroExists) {
    CHDMI h;
    const std::string out = printed([&] { EXPECT_EQ(h.HDMI_init(1), -1); });
    EXPECT_NE(out.find("ss524v100 don't support this interface"), std::string::npos);
}

} // namespace
} // namespace hdext::test
