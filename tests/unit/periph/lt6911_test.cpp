// HDMI input detection against the simulated receiver chip: what it measures, what it
// concludes, and what it asks the capture pipeline to do.
#include "support/capture_fixture.h"

using namespace capture_test;
using hdext::Lt6911Detector;

namespace {

struct Expect {
    const char* source;
    int width, height, rate, scan, sync;
};

class EachFormat : public HdmiBench, public ::testing::WithParamInterface<Expect> {};

TEST_P(EachFormat, IsDetectedWithItsSizeRateScanAndSync) {
    const Expect e = GetParam();
    const Calls calls = detect(std::string(e.source) + " audio=48000");
    EXPECT_EQ(MaxW_6911_ATT, e.width);
    EXPECT_EQ(MaxH_6911_ATT, e.height);
    EXPECT_EQ(FrameRate_6911, e.rate);
    EXPECT_EQ(SCAN_MODE_6911, e.scan);
    EXPECT_EQ(VO_SYNC_6911_ATT, e.sync);
    EXPECT_EQ(app_status[2], e.sync);
    EXPECT_EQ(calls, (Calls{"start_video 2", "start_audio 2"}));
}

INSTANTIATE_TEST_SUITE_P(
    Supported, EachFormat,
    ::testing::Values(Expect{"1920x1080p60", 1920, 1080, 60, 1, 23},
                      Expect{"1920x1080i60", 1920, 1080, 60, 0, 21},
                      Expect{"720x480p60", 720, 480, 60, 1, 5},
                      // NTSC-family rates measure one frame less and still match.
                      Expect{"1920x1080p29.97", 1920, 1080, 30, 1, 19}));

class Unsupported : public HdmiBench, public ::testing::WithParamInterface<const char*> {};

TEST_P(Unsupported, IsRefusedAndStartsNothing) {
    EXPECT_TRUE(detect(std::string(GetParam()) + " audio=48000").empty());
    EXPECT_EQ(vi_mode, 0);
    EXPECT_EQ(VO_SYNC_6911_ATT, 49);
}

INSTANTIATE_TEST_SUITE_P(Formats, Unsupported,
                         ::testing::Values("1920x1080p25", "3840x2160p30", "720x576p50", "garbage"));

TEST_F(HdmiBench, PluggingStartsBothEncodersOnceThenRetunesAndCloses) {
    EXPECT_EQ(detect("1920x1080p60 audio=48000"), (Calls{"start_video 2", "start_audio 2"}));
    EXPECT_EQ(Frame_en, 1);
    EXPECT_EQ(old_audio_sampling, 48000);
    Frame_en = 0;

    EXPECT_TRUE(detect("1920x1080p60 audio=48000").empty()) << "same format: nothing to do";
    EXPECT_EQ(Frame_en, 0);

    EXPECT_EQ(detect("1280x720p50 audio=48000"), (Calls{"hdmi_off_video", "hdmi_on_video"}));
    EXPECT_EQ(Frame_en, 1);
    EXPECT_EQ(MaxW_6911_ATT, 1280);
    EXPECT_EQ(app_status[2], 9);

    EXPECT_EQ(detect("1280x720p50 audio=44100"), (Calls{"audio_restart"}));
    EXPECT_EQ(old_audio_sampling, 44100);

    testing::internal::CaptureStderr();
    const Calls closed = detect("1920x1080p24 audio=44100");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(closed, (Calls{"hdmi_off_video", "hdmi_off_audio"}));
    EXPECT_NE(err.find("\n $$$$$ CLOSE 6911 \n"), std::string::npos);
    EXPECT_EQ(vi_mode, 0);
    EXPECT_EQ(app_status[2], '1');
    EXPECT_EQ(old_hdmi_sync, 49);

    EXPECT_TRUE(detect("none").empty()) << "already closed";

    // Re-plugging turns the stopped pipeline on again; the encoders are not started twice.
    EXPECT_EQ(detect("1920x1080i50 audio=48000"), (Calls{"hdmi_on_video", "hdmi_on_audio"}));
    EXPECT_EQ(vi_mode, 2);
    EXPECT_EQ(MaxH_6911_ATT, 1080);
    EXPECT_EQ(app_status[2], 20);
    detect("none");
    EXPECT_EQ(detect("1920x1080p60 audio=none"), (Calls{"hdmi_on_video"})) << "no audio: video only";
}

TEST_F(HdmiBench, FirstSourceWithoutAudioStartsAudioAt48000) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(detect("1280x720p60 audio=none"), (Calls{"start_video 2", "start_audio 2"}));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(AudioSampling_6911, 48000);
    EXPECT_EQ(old_audio_sampling, 48000);
    EXPECT_NE(err.find("\n 6911 strat AENC $$$$$ 6911 sampling=48000\n"), std::string::npos);
    EXPECT_NE(err.find("\n 6911 strat VENC $$$$$ 6911 w=1280,h=720,frame=60,SCAN_MODE_6911=1 \n"),
              std::string::npos);
}

TEST_F(HdmiBench, AudioCodesMapToRates) {
    const std::pair<const char*, int> cases[] = {
        {"audio=44100", 44100}, {"audio=96000", 96000}, {"audio=88200", 96001}};
    for (auto [audio, rate] : cases) {
        detect(std::string("1920x1080p60 ") + audio);
        EXPECT_EQ(AudioSampling_6911, rate) << audio;
    }
}

TEST_F(HdmiBench, WhileSdiOwnsThePipelineHdmiOnlyRemembersItsFormat) {
    vi_mode = 1;
    EXPECT_TRUE(detect("1920x1080p60 audio=48000").empty());
    EXPECT_EQ(old_hdmi_sync, 23);
    EXPECT_EQ(vi_mode, 1);
    EXPECT_EQ(init_videc, 1);
    EXPECT_EQ(VO_SYNC_6911_ATT, 23) << "kept for the fall-back";
    EXPECT_TRUE(detect("none").empty());
    EXPECT_EQ(old_hdmi_sync, 49);
    EXPECT_EQ(old_audio_sampling, 96001);
    EXPECT_EQ(vi_mode, 1);
}

TEST_F(HdmiBench, AudioRecheckRestartsAudioOnlyOnARealChange) {
    detect("1920x1080p60 audio=48000");
    plug("1920x1080p60 audio=48000");
    detector.recheck_audio();
    EXPECT_TRUE(pipeline.take().empty());
    plug("1920x1080p60 audio=32000");
    testing::internal::CaptureStderr();
    detector.recheck_audio();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("\n  $$$$$ mute 6911 sampling=32000\n"),
              std::string::npos);
    EXPECT_EQ(pipeline.take(), (Calls{"audio_restart"}));
    EXPECT_EQ(AudioSampling_6911, 32000);
    plug("1920x1080p60 audio=none");
    detector.recheck_audio();
    EXPECT_TRUE(pipeline.take().empty());
    EXPECT_EQ(AudioSampling_6911, 96001);
    EXPECT_FALSE(model->access_open());
}

TEST(FrameRate, SnapsNearTheSupportedRatesAndRefusesAZeroDivisor) {
    auto rate = [](int r) { return hdext::lt6911_frame_rate(uint32_t(r) * 2 * 100 * 10, 10, 100); };
    EXPECT_EQ(rate(57), 57);
    EXPECT_EQ(rate(58), 60);
    EXPECT_EQ(rate(75), 60);
    EXPECT_EQ(rate(48), 50);
    EXPECT_EQ(rate(52), 52);
    EXPECT_EQ(rate(28), 30);
    EXPECT_EQ(hdext::lt6911_frame_rate(148500000, 0, 1100), 0);
    EXPECT_EQ(hdext::lt6911_frame_rate(148500000, 1125, 0), 0);
    EXPECT_EQ(hdext::lt6911_frame_rate(0xFFFFF * 2000u, 0xFFFF, 0xFFFF), 0) << "no overflow";
}

} // namespace
