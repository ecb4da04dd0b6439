// The audio encode task's capture loop against the recording platform: commands, A-law
// frames, list fan-out, frame-rate tracking and silence insertion.
#include "encode/audio_encoder_task.h"
#include "encode_test_util.h"
#include "media/g711.h"
#include "periph/input_state.h"

using namespace encode_test;
using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

namespace {

[[maybe_unused]] auto* const pools = ::testing::AddGlobalTestEnvironment(new FramePools);

int rechecks = 0;
void count_recheck() { ++rechecks; }

struct AudioTask : ::testing::Test {
    CAudioEncoderTask task{0, 1, 0, 0, 0};

    void SetUp() override {
        fresh_platform();
        vi_mode = 2;
        AudioSampling_6911 = 48000;
        AudioSampling_3471 = 48000;
        FrameRate_6911 = 60;
        FrameRate_3471 = 50;
        Frame_en = 0;
        RestartAudio = 0;
        audio_en = 3;
        videc_number.total = 0;
        rechecks = 0;
        task.SetAiWait(1ms);
        task.SetAudioRecheck(count_recheck);
        testing::internal::CaptureStdout();
    }
    void TearDown() override {
        testing::internal::GetCapturedStdout();
        rec().reset();
    }
    frame_buff_head* claim() { return task.GetFrameHead(); }
    Calls pass_with(int command) {
        audio_en = command;
        task.Pass();
        return ai_commands();
    }
    static std::vector<int16_t> tone(size_t n) {
        std::vector<int16_t> s(n);
        for (size_t i = 0; i < n; ++i) s[i] = static_cast<int16_t>((i % 64) * 256 - 8192);
        return s;
    }
};

TEST_F(AudioTask, CommandsAreCarriedOutAtTheNextPass) {
    EXPECT_EQ(pass_with(4), (Calls{"ai_stop 0 0"}));
    EXPECT_EQ(audio_en, 3);
    EXPECT_EQ(pass_with(0), (Calls{"ai_set_audio 0 48000 1", "ai_start 0 0"}));
    EXPECT_EQ(audio_en, 3);
    AudioSampling_6911 = 44100;
    EXPECT_EQ(pass_with(1), (Calls{"ai_stop 0 0", "ai_set_audio 0 44100 1", "ai_start 0 0"}));
    EXPECT_TRUE(pass_with(3).empty());
    vi_mode = 1;
    AudioSampling_3471 = 48000;
    EXPECT_EQ(pass_with(2), (Calls{"ai_stop 0 0", "ai_set_audio 1 48000 1", "ai_start 1 0"}));
    EXPECT_EQ(pass_with(4), (Calls{"ai_stop 1 0"})) << "the SDI input is now the one in use";
    vi_mode = 0;
    EXPECT_EQ(pass_with(0), (Calls{"ai_set_audio 1 48000 1", "ai_start 1 0"}))
        << "with no input mode the previous pair is kept";
}

TEST_F(AudioTask, AStopOverwrittenByAStartStillStopsTheOtherInput) {
    vi_mode = 1;
    pass_with(2); // SDI took over
    vi_mode = 2;  // SDI lost: its stop and the HDMI start come before the next pass
    audio_en = 4;
    EXPECT_EQ(pass_with(0), (Calls{"ai_stop 1 0", "ai_set_audio 0 48000 1", "ai_start 0 0"}));
    vi_mode = 1;
    EXPECT_EQ(pass_with(2), (Calls{"ai_stop 0 0", "ai_set_audio 1 48000 1", "ai_start 1 0"}))
        << "SDI takes over again from a stopped SDI input";
    EXPECT_EQ(pass_with(0), (Calls{"ai_stop 1 0", "ai_set_audio 1 48000 1", "ai_start 1 0"}));
}

TEST_F(AudioTask, AStoppedInputIsNotReadUntilStartedAgainOnItsNewDescriptor) {
    rec().renew_ai_fd_on_enable = true;
    pass_with(4);
    push_pcm(tone(1024));
    task.Pass();
    task.Pass();
    EXPECT_EQ(task.SamplesSent(), 0u);
    EXPECT_EQ(pass_with(0), (Calls{"ai_set_audio 0 48000 1", "ai_start 0 0"}));
    EXPECT_EQ(task.SamplesSent(), 1024u) << "the start pass reads the waiting frame";
    pass_with(2);
    push_pcm(tone(512));
    task.Pass();
    EXPECT_EQ(task.SamplesSent(), 1536u);
}

TEST_F(AudioTask, APcmFrameBecomesOneALawFrameInEachListInUse) {
    frame_buff_head* a = claim();
    frame_buff_head* b = claim();
    push_pcm(tone(1024), 123456, 42);
    task.Pass();
    EXPECT_EQ(task.SamplesSent(), 1024u);
    EXPECT_EQ(rec().count("ss_mpi_ai_release_frame"), 1);
    for (frame_buff_head* l : {a, b}) {
        frame_buff* f = frame_dequeue(l);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->total, 1024u);
        EXPECT_EQ(f->kind, kFrameKindAudio);
        EXPECT_EQ(f->param, 0);
        EXPECT_EQ(f->pts, 123456u);
        EXPECT_EQ(f->aux, 42u);
        EXPECT_EQ(f->data[0], ALawEncode(-8192));
        EXPECT_EQ(f->data[63], ALawEncode(63 * 256 - 8192));
        free_audio_frame(f);
        EXPECT_EQ(frame_dequeue(l), nullptr);
    }
}

TEST_F(AudioTask, SilenceIsInsertedUntilAudioIsWithin80msOfVideo) {
    // 396900 samples = 9 s at the 44.1 kHz audio clock, sent before any frame rate is known.
    for (int i = 0; i < 387; ++i) {
        push_pcm(tone(1024));
        task.Pass();
    }
    push_pcm(tone(396900 - 387 * 1024));
    task.Pass();
    ASSERT_EQ(task.SamplesSent(), 396900u);

    frame_buff_head* l = claim();
    videc_number.total = 600; // 10 s of 60 fps video
    Frame_en = 1;
    task.Pass();
    EXPECT_EQ(Frame_en, 0);
    EXPECT_EQ(task.StoredFrameRate(), 60.0);
    EXPECT_EQ(videc_number.total, 600u) << "the first rate taken resets nothing";
    EXPECT_EQ(task.SamplesSent(), 396900u + 80 * 512);
    int silent = 0;
    while (frame_buff* f = frame_dequeue(l)) {
        EXPECT_EQ(f->total, 512u);
        EXPECT_EQ(f->pts, 0u);
        EXPECT_EQ(f->data[0], 0xD5) << "A-law silence";
        free_audio_frame(f);
        ++silent;
    }
    EXPECT_EQ(silent, 80);
    task.Pass();
    EXPECT_EQ(frame_queue_count(l), 0) << "caught up: nothing more";

    AudioSampling_6911 = 96001;  // no audio on the input: no silence either
    pass_with(0);
    videc_number.total = 1200;
    Frame_en = 1;
    task.Pass();
    EXPECT_EQ(frame_queue_count(l), 0);
}

TEST_F(AudioTask, AFrameRateChangeResetsBothCountersButAZeroRateWaits) {
    Frame_en = 1;
    task.Pass();
    push_pcm(tone(1024));
    task.Pass();
    videc_number.total = 30;
    EXPECT_EQ(task.SamplesSent(), 1024u);
    FrameRate_6911 = 50;
    Frame_en = 1;
    task.Pass();
    EXPECT_EQ(task.StoredFrameRate(), 50.0);
    EXPECT_EQ(videc_number.total, 0u);
    EXPECT_EQ(task.SamplesSent(), 0u);
    FrameRate_6911 = 0;  // a zero rate keeps the request pending
    Frame_en = 1;
    task.Pass();
    EXPECT_EQ(Frame_en, 1);
    FrameRate_6911 = 60;
    task.Pass();
    EXPECT_EQ(Frame_en, 0);
}

TEST_F(AudioTask, SoundAfterSilenceReReadsTheHdmiRate) {
    RestartAudio = 1;
    push_pcm(std::vector<int16_t>(1024, 0));
    task.Pass();
    EXPECT_EQ(RestartAudio, 1);
    push_pcm(tone(1024));
    task.Pass();
    EXPECT_EQ(rechecks, 1);
    EXPECT_EQ(RestartAudio, 0);

    RestartAudio = 1;
    push_pcm(tone(1024));
    task.Pass();
    EXPECT_EQ(rechecks, 1) << "sound without silence before: nothing to re-read";
    EXPECT_EQ(RestartAudio, 0);
}

} // namespace
