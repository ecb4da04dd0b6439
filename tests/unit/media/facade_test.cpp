// The facade: index checks, start-before-create, system bring-up, bindings and TX switching.
#include "encode/video_encoder_task.h"
#include "media/codec.h"
#include "media_test_util.h"
#include "periph/input_state.h"
#include "settings/bitrate.h"
#include <gtest/gtest.h>

namespace hdext::test {
namespace {

using Facade = MediaTest;

TEST_F(Facade, IndexAtTheLimitIsRejectedWithTheOperationName) {
    codec->VENC_Create(0);
    std::string out = printed([&] { EXPECT_EQ(codec->VENC_Start(128), -1); });
    EXPECT_EQ(out, " !!!!   VENC_Start :Chn(128) exceeds the maximum value\n");
    out = printed([&] { EXPECT_EQ(codec->VO_Create(35, 0, 0), -1); });
    EXPECT_EQ(out, " !!!!   VO_Create :Dev(35) exceeds the maximum value\n");
    out = printed([&] { EXPECT_EQ(codec->AENC_Create(49), -1); });
    EXPECT_EQ(out, " !!!!   AEVC_Create :Chn(49) exceeds the maximum value\n");
    out = printed([&] { EXPECT_EQ(codec->VDEC_Create(-1), -1); });
    EXPECT_EQ(out, " !!!!   VDEC_Create :Chn(-1) exceeds the maximum value\n");
    out = printed([&] { EXPECT_EQ(codec->VI_Start(-1, 0), -1); });
    EXPECT_EQ(out, " !!!!   VI_Start :Dev(-1) exceeds the maximum value\n");
    EXPECT_TRUE(rec().calls.empty());
    EXPECT_STREQ(codec->OperationName(), "VI_Start"); // a failed check leaves the name
    codec->VDEC_Create(0);
    EXPECT_STREQ(codec->OperationName(), "");
}

TEST_F(Facade, AnyStartBeforeCreateFailsWithoutAPlatformCall) {
    EXPECT_EQ(codec->VO_Start(0, 0), -1);
    EXPECT_EQ(codec->VO_Stop(0, 0), -1);
    EXPECT_EQ(codec->VI_Start(3, 12), -1);
    EXPECT_EQ(codec->AI_Start(0, 0), -1);
    int total = 0;
    EXPECT_EQ(codec->VENC_GetStream(0, &total), nullptr);
    EXPECT_TRUE(rec().calls.empty());
    // Except the HDMI type, which is only stored.
    EXPECT_EQ(codec->HDMI_SetType(0, 23, 48000, 1), 0);
    EXPECT_EQ(codec->HDMI_SetType(5, 23, 48000, 1), -1);
}

TEST_F(Facade, SetResolutionAloneTouchesNothing) {
    codec->VO_Create(0, 0, 0);
    codec->SetResolution(23, 24, 60, 1920, 1080);
    EXPECT_TRUE(rec().calls.empty());
    codec->SetResolution(5, 24, 60, 720, 480);
    codec->VO_Start(0, 0);
    EXPECT_EQ(rec().find("ss_mpi_vo_set_pub_attr").as<ot_vo_pub_attr>().intf_sync, 5);
    EXPECT_EQ(rec().find("ss_mpi_vo_set_video_layer_attr").as<ot_vo_video_layer_attr>().img_width,
              720u);
}

TEST_F(Facade, BindFailurePrintsBothEndsAndReturnsTheCode) {
    rec().results["ss_mpi_sys_bind"] = static_cast<int>(0xa0028004u);
    std::string out = printed(
        [] { EXPECT_EQ(INTF_SYS_BIND(16, 3, 12, 8, 0, 0), static_cast<int>(0xa0028004u)); });
    EXPECT_NE(out.find("[INTF_SYS_BIND]-"), std::string::npos);
    EXPECT_NE(out.find("(3,12) bind (0,0) err(0xa0028004)!\n"), std::string::npos);
    EXPECT_EQ(rec().find("ss_mpi_sys_bind").args, (std::vector<long long>{16, 3, 12, 8, 0, 0}));
    rec().results["ss_mpi_sys_unbind"] = 0x5;
    out = printed([] { EXPECT_EQ(INTF_SYS_UNBIND(5, 0, 1, 15, 1, 1), 5); });
    EXPECT_NE(out.find("(0,1) unbind (1,1) err(0x5)!\n"), std::string::npos);
}

TEST_F(Facade, TwoChannelsOfOneDeviceStartAndStopItOnce) {
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

    rec().reset();  // capture likewise
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

// The TX input switching goes through the process-wide facade and encode task.
class InputSwitching : public MediaTest {
  protected:
    void SetUp() override {
        MediaTest::SetUp();
        saved_codec = g_pCodec;
        g_pCodec = new CCodec();
        saved_task = g_pTaskVENC;
        g_pTaskVENC = new CVideoEncoderTask(0, 0, 0, 3, 12);
        INTF_VI_Create(3, 12);
        INTF_VI_Create(0, 0);
        INTF_VENC_Create(0);
        INTF_VENC_SetEncodeType(0, 96);
        rec().reset();
    }
    void TearDown() override {
        delete g_pTaskVENC;
        g_pTaskVENC = saved_task;
        delete g_pCodec;
        g_pCodec = saved_codec;
        MediaTest::TearDown();
    }
    CCodec* saved_codec = nullptr;
    CVideoEncoderTask* saved_task = nullptr;
};

TEST_F(InputSwitching, EncoderThenCaptureThenBindingForHdmiAndSdi) {
    MaxW_6911_ATT = 1280;
    MaxH_6911_ATT = 720;
    FrameRate_6911 = 50;
    VO_SYNC_6911_ATT = 9;
    SCAN_MODE_6911 = 1;
    BitRate = 8;
    VencEn = 0;
    hdmi_turn_on_video();
    EXPECT_EQ(VencEn.load(), 1);
    const Names all = rec().names();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.front(), "ss_mpi_venc_create_chn");
    EXPECT_EQ(all.back(), "ss_mpi_sys_bind");
    const auto a = rec().find("ss_mpi_venc_create_chn").as<ot_venc_chn_attr>();
    EXPECT_EQ(a.width, 1280u);
    EXPECT_EQ(a.rc.bit_rate, 8u * 1024u);
    EXPECT_EQ(a.rc.gop, 100u);
    EXPECT_EQ(rec().find("ss_mpi_vi_set_dev_attr").as<ot_vi_dev_attr>().intf_mode, 3u);
    EXPECT_EQ(rec().find("ss_mpi_sys_bind").args, (std::vector<long long>{16, 3, 12, 8, 0, 0}));

    rec().reset();
    hdmi_turn_off_video();
    EXPECT_EQ(VencEn.load(), 0);
    EXPECT_EQ(rec().names(),
              (Names{"ss_mpi_sys_unbind", "ss_mpi_vi_disable_chn", "ss_mpi_vi_disable_dev",
                     "ss_mpi_venc_stop_chn", "ss_mpi_venc_destroy_chn"}));
    EXPECT_EQ(rec().find("ss_mpi_sys_unbind").args, (std::vector<long long>{16, 3, 12, 8, 0, 0}));

    rec().reset();  // SDI: its own capture pair and interface mode 1
    MaxW_3471_ATT = 1920;
    MaxH_3471_ATT = 1080;
    FrameRate_3471 = 30;
    VO_SYNC_3471_ATT = 19;
    SCAN_MODE_3471 = 0;
    sdi_turn_on_video();
    EXPECT_EQ(rec().count("ss_mpi_mipi_open"), 0); // device 0
    EXPECT_EQ(rec().find("ss_mpi_vi_set_dev_attr").as<ot_vi_dev_attr>().intf_mode, 1u);
    EXPECT_EQ(rec().find("ss_mpi_vi_set_chn_attr").as<ot_vi_chn_attr>().data_mode, 0);
    EXPECT_EQ(rec().find("ss_mpi_sys_bind").args, (std::vector<long long>{16, 0, 0, 8, 0, 0}));
    rec().reset();
    sdi_turn_off_video();
    EXPECT_EQ(rec().find("ss_mpi_sys_unbind").args, (std::vector<long long>{16, 0, 0, 8, 0, 0}));
}

} // namespace
} // namespace hdext::test
