// Video wrappers through the facade: platform calls, their order and values.
#include "media/codec.h"
#include "media_test_util.h"
#include <gtest/gtest.h>

namespace hdext::test {
namespace {

using VideoDecoder = MediaTest;

TEST_F(VideoDecoder, H264ChannelIsSizedFor1080pWhateverTheResolution) {
    codec->SetResolution(10, 24, 60, 1280, 720);
    ASSERT_EQ(codec->VDEC_Create(0), 0);
    ASSERT_EQ(codec->VDEC_SetDecodeType(0, 96, 1), 0);
    ASSERT_EQ(codec->VDEC_Start(0), 0);
    EXPECT_EQ(rec().names(),
              (Names{"ss_mpi_vb_exit_mod_common_pool", "ss_mpi_vb_set_mod_pool_cfg",
                     "ss_mpi_vb_init_mod_common_pool", "ss_mpi_vdec_create_chn",
                     "ss_mpi_vdec_get_chn_param", "ss_mpi_vdec_set_chn_param",
                     "ss_mpi_vdec_start_recv_stream", "ss_mpi_vdec_set_display_mode"}));
    EXPECT_EQ(rec().find("ss_mpi_vb_set_mod_pool_cfg").args, (std::vector<long long>{4}));
    const auto pools = rec().find("ss_mpi_vb_set_mod_pool_cfg").as<ot_vb_cfg>();
    EXPECT_EQ(pools.max_pool_cnt, 2u);
    EXPECT_EQ(pools.common_pool[0].blk_size, 3146496u);
    EXPECT_EQ(pools.common_pool[0].blk_cnt, 6u);
    EXPECT_EQ(pools.common_pool[1].blk_size, 0u); // motion-vector switch 1: no pool
    const auto attr = rec().find("ss_mpi_vdec_create_chn").as<ot_vdec_chn_attr>();
    EXPECT_EQ(attr.payload, 96);
    EXPECT_EQ(attr.send_mode, 1);
    EXPECT_EQ(attr.width, 1920u);
    EXPECT_EQ(attr.height, 1080u);
    EXPECT_EQ(attr.stream_buf_size, 1920u * 1080u);
    EXPECT_EQ(attr.frame_buf_size, 3146496u);
    EXPECT_EQ(attr.frame_buf_cnt, 6u);
    EXPECT_EQ(attr.ref_frame_num, 5u);
    EXPECT_EQ(attr.tmv_en, 0);
    const auto param = rec().find("ss_mpi_vdec_set_chn_param").as<ot_vdec_chn_param>();
    EXPECT_EQ(param.dec_opt[0], 1);
    EXPECT_EQ(param.dec_opt[1], 1);
    EXPECT_EQ(param.dec_opt[2], 0);
    EXPECT_EQ(param.dec_opt[3], 1);
    EXPECT_EQ(param.display_frame_num, 0u);
    EXPECT_EQ(rec().find("ss_mpi_vdec_set_display_mode").args, (std::vector<long long>{0, 0}));
}

TEST_F(VideoDecoder, MotionVectorPoolWhenTheSwitchIsOff) {
    CVDecode d;
    d.VDEC_init(2);
    d.VDEC_set_tmv_switch(0);
    ASSERT_EQ(d.VDEC_Start(), 0);
    const auto pools = rec().find("ss_mpi_vb_set_mod_pool_cfg").as<ot_vb_cfg>();
    EXPECT_EQ(pools.common_pool[1].blk_size, 522240u);
    EXPECT_EQ(pools.common_pool[1].blk_cnt, 6u);
    EXPECT_EQ(rec().find("ss_mpi_vdec_create_chn").as<ot_vdec_chn_attr>().tmv_en, 1);
    EXPECT_EQ(rec().find("ss_mpi_vdec_create_chn").args, (std::vector<long long>{2}));
}

TEST_F(VideoDecoder, JpegChannelTakesWholeFramesAndPictureFormat) {
    codec->VDEC_Create(1);
    codec->VDEC_SetDecodeType(1, 1002, 0);
    ASSERT_EQ(codec->VDEC_Start(1), 0);
    const auto attr = rec().find("ss_mpi_vdec_create_chn").as<ot_vdec_chn_attr>();
    EXPECT_EQ(attr.send_mode, 1);
    EXPECT_EQ(attr.frame_buf_size, 1920u * 1088u * 3 / 2);
    EXPECT_EQ(attr.frame_buf_cnt, 1u);
    EXPECT_EQ(attr.ref_frame_num, 0u);
    const auto param = rec().find("ss_mpi_vdec_set_chn_param").as<ot_vdec_chn_param>();
    EXPECT_EQ(param.pixel_format, 28);
    EXPECT_EQ(param.alpha, 255);
}

TEST_F(VideoDecoder, BufferSizesFollowThePictureRule) {
    EXPECT_EQ(VDEC_pic_size(96, 1920, 1080, 0), 3146496u);
    EXPECT_EQ(VDEC_pic_size(96, 4096, 4096, 0), (4096u * 4096u + 32u * 4096u / 2) * 3 / 2);
    EXPECT_EQ(VDEC_pic_size(96, 4097, 1080, 0), 0u);
    EXPECT_EQ(VDEC_pic_size(265, 1920, 1080, 0), (1920u * 1088u + 16u * 1088u / 2) * 3 / 2);
    EXPECT_EQ(VDEC_pic_size(265, 1920, 1080, 1),
              (1920u * 1088u + 16u * 1088u / 2) * 3 / 2 + 1088u * 480u);
    EXPECT_EQ(VDEC_pic_size(26, 16384, 16384, 0), 16384u * 16384u * 3 / 2);
    EXPECT_EQ(VDEC_pic_size(26, 16385, 16, 0), 0u);
    EXPECT_EQ(VDEC_pic_size(97, 1920, 1080, 0), 0u);
    EXPECT_EQ(VDEC_tmv_size(96, 1920, 1080), 522240u);
    EXPECT_EQ(VDEC_tmv_size(265, 1920, 1080), 68u * 120u * 16u);
}

TEST_F(VideoDecoder, PoolFailureStopsBeforeTheChannel) {
    codec->VDEC_Create(0);
    rec().results["ss_mpi_vb_init_mod_common_pool"] = 0x12;
    const std::string out = printed([&] { EXPECT_EQ(codec->VDEC_Start(0), -1); });
    EXPECT_NE(out.find("vb exit mod common pool fail for 0x12\n"), std::string::npos);
    EXPECT_EQ(rec().count("ss_mpi_vb_exit_mod_common_pool"), 2);
    EXPECT_EQ(rec().count("ss_mpi_vdec_create_chn"), 0);
}

TEST_F(VideoDecoder, CreateFailureReturnsTheCodeWithTheChannelInTheMessage) {
    codec->VDEC_Create(3);
    rec().results["ss_mpi_vdec_create_chn"] = static_cast<int>(0xa0058004u);
    const std::string out =
        printed([&] { EXPECT_EQ(codec->VDEC_Start(3), static_cast<int>(0xa0058004u)); });
    EXPECT_NE(out.find("vdec create chn chn 3 failed at VDEC_Start: LINE: "), std::string::npos)
        << out;
    EXPECT_NE(out.find("with 0xa0058004!"), std::string::npos);
}

TEST_F(VideoDecoder, SendStreamPassesOneWholeFrame) {
    codec->VDEC_Create(0);
    uint8_t data[10] = {};
    const _MEDIA_FRAME_COMM_INFO info{data, 10, 123456789012ull};
    ASSERT_EQ(codec->VDEC_SendStream(0, &info), 0);
    const MpiCall& c = rec().find("ss_mpi_vdec_send_stream");
    EXPECT_EQ(c.args, (std::vector<long long>{0, -1}));
    const auto s = c.as<ot_vdec_stream>();
    EXPECT_EQ(s.end_of_frame, 1);
    EXPECT_EQ(s.end_of_stream, 0);
    EXPECT_EQ(s.need_display, 1);
    EXPECT_EQ(s.pts, 123456789012ull);
    EXPECT_EQ(s.addr, data);
    EXPECT_EQ(s.len, 10u);
    rec().results["ss_mpi_vdec_send_stream"] = static_cast<int>(0xa005800fu);
    const std::string out = printed([&] { EXPECT_EQ(codec->VDEC_SendStream(0, &info), -1); });
    EXPECT_EQ(out, "ss_mpi_vdec_send_stream(0) failure, ret=0xa005800f\n");
}

TEST_F(VideoDecoder, StopReleasesChannelThenModulePool) {
    codec->VDEC_Create(0);
    codec->VDEC_Stop(0);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_vdec_stop_recv_stream", "ss_mpi_vdec_destroy_chn",
                                    "ss_mpi_vb_exit_mod_common_pool"}));
    rec().reset();
    codec->VDEC_StopRecv(0);
    codec->VDEC_ResetChn(0);
    codec->VDEC_StartRecv(0);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_vdec_stop_recv_stream", "ss_mpi_vdec_reset_chn",
                                    "ss_mpi_vdec_start_recv_stream"}));
}

using VideoOutput = MediaTest;

TEST_F(VideoOutput, StartSetsDeviceLayerAndChannelFromTheGeometry) {
    codec->VO_Create(0, 0, 0);
    codec->SetResolution(10, 24, 60, 1280, 720);
    ASSERT_EQ(codec->VO_Start(0, 0), 0);
    EXPECT_EQ(
        rec().names(),
        (Names{"ss_mpi_vo_set_pub_attr", "ss_mpi_vo_enable", "ss_mpi_vo_set_video_layer_attr",
               "ss_mpi_vo_set_video_layer_early_display", "ss_mpi_vo_enable_video_layer",
               "ss_mpi_vo_get_video_layer_attr", "ss_mpi_vo_set_chn_attr", "ss_mpi_vo_enable_chn",
               "ss_mpi_vo_set_chn_recv_threshold", "ss_mpi_vo_clear_chn_buf"}));
    const auto pub = rec().find("ss_mpi_vo_set_pub_attr").as<ot_vo_pub_attr>();
    EXPECT_EQ(pub.bg_color, 0u);
    EXPECT_EQ(pub.intf_type, 24);
    EXPECT_EQ(pub.intf_sync, 10);
    const auto layer = rec().find("ss_mpi_vo_set_video_layer_attr").as<ot_vo_video_layer_attr>();
    EXPECT_EQ(layer.display_rect.width, 1280u);
    EXPECT_EQ(layer.display_rect.height, 720u);
    EXPECT_EQ(layer.img_width, 1280u);
    EXPECT_EQ(layer.img_height, 720u);
    EXPECT_EQ(layer.display_frame_rate, 60u);
    EXPECT_EQ(layer.pixel_format, 28);
    const int extra[6] = {0, 0, 0, 0, 3, 0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(layer.extra[i], extra[i]) << i;
    EXPECT_EQ(rec().find("ss_mpi_vo_set_video_layer_early_display").args,
              (std::vector<long long>{0, 1}));
    const auto chn = rec().find("ss_mpi_vo_set_chn_attr").as<ot_vo_chn_attr>();
    EXPECT_EQ(chn.rect.width, 1280u);
    EXPECT_EQ(chn.rect.height, 720u);
    EXPECT_EQ(rec().find("ss_mpi_vo_set_chn_recv_threshold").args,
              (std::vector<long long>{0, 0, 2}));
    EXPECT_EQ(rec().find("ss_mpi_vo_clear_chn_buf").args, (std::vector<long long>{0, 0, 1}));
}

TEST_F(VideoOutput, TwoChannelsOfOneDeviceStartAndStopItOnce) {
    codec->VO_Create(1, 1, 1);
    codec->VO_Create(1, 2, 1);
    codec->VO_Start(1, 1);
    codec->VO_Start(1, 2);
    EXPECT_EQ(rec().count("ss_mpi_vo_enable"), 1);
    EXPECT_EQ(rec().count("ss_mpi_vo_set_pub_attr"), 1);
    rec().reset();
    codec->VO_Stop(1, 1);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_vo_clear_chn_buf", "ss_mpi_vo_disable_chn",
                                    "ss_mpi_vo_disable_video_layer", "ss_mpi_vo_disable"}));
    EXPECT_EQ(rec().find("ss_mpi_vo_disable").args, (std::vector<long long>{1}));
    rec().reset();
    codec->VO_Stop(1, 2);
    EXPECT_EQ(rec().count("ss_mpi_vo_disable"), 0);
    rec().reset();
    codec->VO_Start(1, 2); // the device flag was cleared: the device starts again
    EXPECT_EQ(rec().count("ss_mpi_vo_enable"), 1);
}

using VideoInput = MediaTest;

TEST_F(VideoInput, StartRunsMipiThenDeviceThenChannel) {
    codec->VI_Create(3, 12);
    codec->VI_Set_Intf_Mode(3, 12, 3, 1);
    codec->SetResolution(23, 16, 60, 1920, 1080);
    ASSERT_EQ(codec->VI_Start(3, 12), 0);
    EXPECT_EQ(
        rec().names(),
        (Names{"ss_mpi_mipi_open", "ss_mpi_mipi_ioctl", "ss_mpi_mipi_ioctl", "ss_mpi_mipi_ioctl",
               "ss_mpi_mipi_ioctl", "ss_mpi_mipi_ioctl", "ss_mpi_mipi_close",
               "ss_mpi_vi_set_dev_attr", "ss_mpi_vi_enable_dev", "ss_mpi_vi_set_chn_attr",
               "ss_mpi_vi_enable_chn", "ss_mpi_vi_get_chn_attr", "ss_mpi_vi_set_chn_attr"}));
    const auto& open = rec().find("ss_mpi_mipi_open");
    EXPECT_EQ(std::string(open.record.begin(), open.record.end()), "/dev/ot_mipi");
    const unsigned long order[5] = {OT_MIPI_SET_HS_MODE, OT_MIPI_ENABLE_MIPI_CLOCK,
                                    OT_MIPI_RESET_MIPI, OT_MIPI_SET_DEV_ATTR, OT_MIPI_UNRESET_MIPI};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(rec().find("ss_mpi_mipi_ioctl", i).args[1], static_cast<long long>(order[i]));
    EXPECT_EQ(rec().find("ss_mpi_mipi_ioctl", 0).as<int>(), 0); // high-speed mode
    EXPECT_EQ(rec().find("ss_mpi_mipi_ioctl", 1).as<int>(), 3); // MIPI device number
    const auto mipi = rec().find("ss_mpi_mipi_ioctl", 3).as<ot_mipi_dev_attr>();
    EXPECT_EQ(mipi.devno, 3);
    EXPECT_EQ(mipi.width, 1920);
    EXPECT_EQ(mipi.height, 1080);
    EXPECT_EQ(mipi.data_mode, 1);
    EXPECT_EQ(mipi.lane_id[0], 12);
    EXPECT_EQ(mipi.lane_id[1], 13);
    EXPECT_EQ(mipi.lane_id[2], -1);
    EXPECT_EQ(mipi.lane_id[3], -1);

    const auto dev = rec().find("ss_mpi_vi_set_dev_attr").as<ot_vi_dev_attr>();
    uint32_t words[23];
    std::memcpy(words, &dev, sizeof(words));
    const uint32_t want[23] = {3, 0, 0xFF0, 0xFF000, 0, 1, 0, 0, 0, 0, 1, 0,
                               0, 0, 0,     0,       0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 23; ++i)
        EXPECT_EQ(words[i], want[i]) << "word " << i;

    const auto chn = rec().find("ss_mpi_vi_set_chn_attr").as<ot_vi_chn_attr>();
    int32_t cw[14];
    std::memcpy(cw, &chn, sizeof(cw));
    const int32_t cwant[14] = {0, 0, 1920, 1080, 1920, 1080, 2, 1, 28, 0, 0, 0, 60, 60};
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(cw[i], cwant[i]) << "word " << i;
}

TEST_F(VideoInput, DeviceZeroHasNoMipiAndModeZeroUsesOneMask) {
    codec->VI_Create(0, 0);
    codec->VI_Set_Intf_Mode(0, 0, 1, 0);
    codec->VI_Start(0, 0);
    EXPECT_EQ(rec().count("ss_mpi_mipi_open"), 0);
    EXPECT_EQ(rec().count("ss_mpi_mipi_ioctl"), 0);
    uint32_t w[23];
    auto dev = rec().find("ss_mpi_vi_set_dev_attr").as<ot_vi_dev_attr>();
    std::memcpy(w, &dev, sizeof(w));
    EXPECT_EQ(w[0], 1u);
    EXPECT_EQ(w[2], 0xFF0u);
    EXPECT_EQ(w[3], 0xFF000u);
    EXPECT_EQ(w[5], 1u);

    rec().reset();
    CVI odd;
    odd.VI_init(1, 0);
    odd.VI_set_intf_mode(0, 1);
    odd.VI_StartDev();
    dev = rec().find("ss_mpi_vi_set_dev_attr").as<ot_vi_dev_attr>();
    std::memcpy(w, &dev, sizeof(w));
    EXPECT_EQ(w[2], 0xFF000u);
    EXPECT_EQ(w[3], 0u);
    EXPECT_EQ(w[5], 2u);

    rec().reset();
    CVI other;
    other.VI_init(2, 0);
    other.VI_set_intf_mode(5, 1);
    other.VI_StartDev();
    dev = rec().find("ss_mpi_vi_set_dev_attr").as<ot_vi_dev_attr>();
    std::memcpy(w, &dev, sizeof(w));
    EXPECT_EQ(w[0], 5u);
    EXPECT_EQ(w[2], 0xFF000000u); // template kept
    EXPECT_EQ(w[5], 5u);
    EXPECT_EQ(w[10], 1u);
}

TEST_F(VideoInput, OneDeviceStartForTwoChannels) {
    codec->VI_Create(3, 12);
    codec->VI_Create(3, 13);
    codec->VI_Start(3, 12);
    codec->VI_Start(3, 13);
    EXPECT_EQ(rec().count("ss_mpi_vi_enable_dev"), 1);
    EXPECT_EQ(rec().count("ss_mpi_vi_enable_chn"), 2);
    rec().reset();
    codec->VI_Stop(3, 12);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_vi_disable_chn", "ss_mpi_vi_disable_dev"}));
    rec().reset();
    codec->VI_Stop(3, 13);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_vi_disable_chn"}));
}

TEST_F(VideoInput, MipiFailureClosesTheDeviceAndStopsTheStart) {
    codec->VI_Create(3, 12);
    rec().results["ss_mpi_mipi_ioctl"] = -1;
    const std::string out = printed([&] { EXPECT_EQ(codec->VI_Start(3, 12), -1); });
    EXPECT_NE(out.find("OT_MIPI_SET_HS_MODE failed"), std::string::npos);
    EXPECT_EQ(rec().names(), (Names{"ss_mpi_mipi_open", "ss_mpi_mipi_ioctl", "ss_mpi_mipi_close"}));

    rec().reset();
    rec().results["ss_mpi_mipi_open"] = -1;
    const std::string out2 = printed([&] { EXPECT_EQ(codec->VI_Start(3, 12), -1); });
    EXPECT_NE(out2.find("open ot_mipi dev failed"), std::string::npos);
    EXPECT_EQ(rec().count("ss_mpi_vi_set_dev_attr"), 0);
}

} // namespace
} // namespace hdext::test
