// The SDI detector: priority over HDMI, loss debounce and the fall-back to HDMI.
#include "app/sdi_monitor.h"
#include "support/recording_pipeline.h"

#include <gtest/gtest.h>

using namespace capture_test;
using hdext::kSdiCycle;
using hdext::kSdiDebounceCycle;

namespace {

struct SdiBench : ::testing::Test {
    RecordingPipeline pipeline;
    uint32_t code = 0x1D;
    bool readable = true;
    hdext::SdiDetector sdi{pipeline, [this](uint32_t* w) {
                               *w = code << 8 | 0x5A; // low byte is not part of the code
                               return readable;
                           }};
    void SetUp() override {
        reset_input_state();
        old_sdi_sync = -1;
        testing::internal::CaptureStderr();
    }
    void TearDown() override { testing::internal::GetCapturedStderr(); }
    Calls poll(uint32_t c, std::chrono::milliseconds expect_wait = kSdiCycle) {
        code = c;
        EXPECT_EQ(sdi.poll(), expect_wait) << std::hex << c;
        return pipeline.take();
    }
    // HDMI running 1080p60 with 48 kHz audio, as the HDMI detector leaves it.
    void hdmi_running() {
        vi_mode = 2;
        init_videc = init_audio = 0;
        MaxW_6911_ATT = 1920, MaxH_6911_ATT = 1080, FrameRate_6911 = 60, SCAN_MODE_6911 = 1;
        VO_SYNC_6911_ATT = 23;
        AudioSampling_6911 = 48000;
    }
};

TEST_F(SdiBench, FirstSdiSourceStartsBothEncodersThenAChangeRetunesVideoOnly) {
    readable = false;
    EXPECT_TRUE(poll(0x2B).empty()) << "an unreadable receiver counts as no signal";
    readable = true;
    EXPECT_EQ(poll(0x2B), (Calls{"start_video 1", "start_audio 1"}));
    EXPECT_EQ(vi_mode, 1);
    EXPECT_EQ(MaxW_3471_ATT, 1920);
    EXPECT_EQ(FrameRate_3471, 60);
    EXPECT_EQ(VO_SYNC_ATT, 23);
    EXPECT_EQ(AudioSampling_3471, 48000);
    EXPECT_EQ(app_status[2], 23);
    EXPECT_TRUE(poll(0x2B).empty());
    Frame_en = 0;
    EXPECT_EQ(poll(0x24), (Calls{"sdi_off_video", "sdi_on_video"}));
    EXPECT_EQ(Frame_en, 1);
    EXPECT_EQ(MaxW_3471_ATT, 1280);
    EXPECT_EQ(app_status[2], 9);
}

TEST_F(SdiBench, TakesOverFromHdmiInOneCycle) {
    hdmi_running();
    EXPECT_EQ(poll(0x2C), (Calls{"hdmi_off_video", "sdi_on_video", "audio_sdi_form_hdmi"}));
    EXPECT_EQ(vi_mode, 1);
    EXPECT_EQ(SCAN_MODE_3471, 0);
    EXPECT_EQ(app_status[2], 20);
}

TEST_F(SdiBench, ReturnsToHdmiAfterThreeBadReadings) {
    hdmi_running();
    poll(0x2B);
    EXPECT_TRUE(poll(0x1D, kSdiDebounceCycle).empty());
    EXPECT_TRUE(poll(0x77, kSdiDebounceCycle).empty()) << "a code outside the table is a loss";
    EXPECT_EQ(vi_mode, 1);
    Frame_en = 0;
    EXPECT_EQ(poll(0x1D), (Calls{"sdi_off_video", "sdi_off_audio", "hdmi_on_video",
                                 "hdmi_on_audio"}));
    EXPECT_EQ(vi_mode, 2);
    EXPECT_EQ(Frame_en, 1) << "audio pacing must take the HDMI frame rate again";
    EXPECT_EQ(VO_SYNC_3471_ATT, 49);
    EXPECT_EQ(old_sdi_sync, -1);
    EXPECT_EQ(app_status[2], 23);
    EXPECT_EQ(sdi.loss_count(), 0);
}

TEST_F(SdiBench, OneGoodReadingResetsTheLossCountAndALaterSourceTurnsThePipelineOnAgain) {
    poll(0x2B);
    poll(0x1D, kSdiDebounceCycle);
    poll(0x1D, kSdiDebounceCycle);
    EXPECT_TRUE(poll(0x2B).empty());
    poll(0x1D, kSdiDebounceCycle);
    poll(0x1D, kSdiDebounceCycle);
    EXPECT_EQ(vi_mode, 1);
    EXPECT_EQ(poll(0x1D), (Calls{"sdi_off_video", "sdi_off_audio"})) << "no HDMI to return to";
    EXPECT_EQ(vi_mode, 0);
    EXPECT_EQ(app_status[2], '1');
    EXPECT_EQ(poll(0x2D), (Calls{"sdi_on_video", "sdi_on_audio"})) << "back after the close";
    EXPECT_EQ(vi_mode, 1);
}

} // namespace
