// The audio decode task on a simulated RX: both outputs play the tone, drift empties the
// backlog, sound that waited too long is not played, an HDMI failure skips SDI, a rate change re-opens after the next frame, and an
// oversized frame is refused; every frame goes back to its pool.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>

#include "decode/decode_control.h"
#include "decode/decode_entry.h"
#include "decode_fixture.h"
#include "media/codec.h"
#include "sim/mpi/sim_control.h"
#include "stream/rx_format.h"

namespace hdext::test {
namespace {

using sim::ao_stats;

MEMPOOL_STATS audio_payloads() { return mempool_stats(frame_pool(kFrameKindAudio, true)); }

class AudioDecodeTest : public DecodeTest {
protected:
    // Both outputs open at 48 kHz; with `stepped` the test runs the loop itself.
    void start(bool stepped) {
        init_tasks("LivingRoom");
        g_sync_videc_pts.store(kVideoPts);
        ASSERT_EQ(Quendor_Start_deAudio_Task(), 0);
        if (stepped) decode::stop_decode_threads();
        base = audio_payloads();
    }
    void queue(size_t bytes, uint64_t pts) {
        frame_buff* f = make_audio_frame(alaw_tone(bytes), pts);
        ASSERT_NE(f, nullptr);
        g_pADecoder->DispatchAFrameToList(f);
        free_audio_frame(f);
    }
    // RMS of the samples a WAV file of the output holds (0 when there are none).
    double wav_rms(int dev) {
        const std::string wav = board->get("/sim/audio-out-" + std::to_string(dev) + ".wav");
        if (wav.size() <= 44) return 0;
        double sum = 0;
        const size_t n = (wav.size() - 44) / 2;
        for (size_t i = 0; i < n; ++i) {
            int16_t s;
            std::memcpy(&s, wav.data() + 44 + 2 * i, 2);
            sum += double(s) * s;
        }
        return std::sqrt(sum / double(n));
    }
    static constexpr uint64_t kVideoPts = 5000000;
    MEMPOOL_STATS base{};
};

TEST_F(AudioDecodeTest, FramesPlayOnTheHdmiAndSdiOutputs) {
    start(false);
    for (int i = 0; i < 100; ++i) queue(480, kVideoPts + i * 1000);
    ASSERT_TRUE(eventually([] { return ao_stats(1, 0).frames == 100 && ao_stats(0, 0).frames == 100; }));
    EXPECT_EQ(ao_stats(1, 0).samples_in, 100u * 480);
    EXPECT_EQ(ao_stats(0, 0).device_rate, 48000);
    EXPECT_EQ(g_sync_audio_pts.load(), kVideoPts + 99000);
    ASSERT_TRUE(eventually([&] { return wav_rms(1) > 3000 && wav_rms(0) > 3000; }));
    ASSERT_TRUE(eventually([&] { return same(audio_payloads(), base); }));
}

TEST_F(AudioDecodeTest, AudioDriftingFromVideoEmptiesTheBacklogAndSoundThatWaitedIsNotPlayed) {
    decode::set_late_budgets({std::chrono::milliseconds(50)});
    start(true);
    queue(480, kVideoPts + 200001);
    for (int i = 0; i < 4; ++i) queue(480, kVideoPts + i);
    ASSERT_TRUE(g_pADecoder->DecodeProc());
    EXPECT_EQ(frame_queue_count(g_pADecoder->m_pList), 0);
    EXPECT_EQ(ao_stats(1, 0).frames, 0u);
    EXPECT_EQ(ao_stats(0, 0).frames, 0u);
    EXPECT_TRUE(same(audio_payloads(), base));

    queue(480, kVideoPts - 200001); // behind counts the same
    queue(480, kVideoPts);
    ASSERT_TRUE(g_pADecoder->DecodeProc());
    EXPECT_EQ(frame_queue_count(g_pADecoder->m_pList), 0);

    queue(480, kVideoPts - 200000); // at the bound it still plays
    ASSERT_TRUE(g_pADecoder->DecodeProc());
    EXPECT_EQ(ao_stats(1, 0).frames, 1u);
    EXPECT_EQ(ao_stats(0, 0).frames, 1u);

    queue(480, kVideoPts); // waits longer than the budget for the outputs
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    queue(480, kVideoPts + 10000);
    ASSERT_TRUE(g_pADecoder->DecodeProc() && g_pADecoder->DecodeProc());
    EXPECT_EQ(ao_stats(1, 0).frames, 2u);
    EXPECT_EQ(g_sync_audio_pts.load(), kVideoPts + 10000);
}

TEST_F(AudioDecodeTest, HdmiOutputFailureSkipsTheSdiOutput) {
    start(true);
    INTF_AO_Stop(1, 0);
    StdoutCapture out;
    queue(480, kVideoPts);
    ASSERT_TRUE(g_pADecoder->DecodeProc());
    EXPECT_EQ(ao_stats(0, 0).frames, 0u);
    EXPECT_NE(out.text().find("hdmi ss_mpi_ao_send_frame(1, 0), failed with"), std::string::npos) << out.text();
    EXPECT_TRUE(same(audio_payloads(), base));
}

TEST_F(AudioDecodeTest, RateChangeReopensBothOutputsAfterTheNextFrame) {
    decode::set_decode_timing({401, std::chrono::microseconds(1000), std::chrono::milliseconds(10)});
    start(true);
    AudioSampling.store(44100);
    send_and_wait(0x7004, 0);
    EXPECT_EQ(g_pADecoder->m_DecodeFlag.load(), 1);
    queue(480, kVideoPts);
    ASSERT_TRUE(g_pADecoder->DecodeProc());
    // The outputs report once more as they close: the frame played at the old rate.
    for (const char* f : {"/sim/audio-out-1.status", "/sim/audio-out-0.status"}) {
        const std::string s = board->get(f);
        EXPECT_NE(s.find("device_rate=48000\n"), std::string::npos) << f << ": " << s;
        EXPECT_NE(s.find("frames=1\n"), std::string::npos) << f << ": " << s;
    }
    EXPECT_EQ(ao_stats(1, 0).device_rate, 44100);
    EXPECT_EQ(ao_stats(0, 0).device_rate, 44100);
    EXPECT_EQ(g_pADecoder->m_DecodeFlag.load(), 0);
}

TEST_F(AudioDecodeTest, FrameLongerThanThePcmBufferIsRefusedAndFreed) {
    start(true);
    StdoutCapture out;
    queue(kAudioMaxAlawBytes + 1, kVideoPts);
    ASSERT_TRUE(g_pADecoder->DecodeProc());
    EXPECT_EQ(ao_stats(1, 0).frames, 0u);
    EXPECT_NE(out.text().find("5121 bytes"), std::string::npos) << out.text();
    EXPECT_TRUE(same(audio_payloads(), base));

    queue(kAudioMaxAlawBytes, kVideoPts); // the largest that fits plays
    ASSERT_TRUE(g_pADecoder->DecodeProc());
    EXPECT_EQ(ao_stats(1, 0).samples_in, kAudioMaxAlawBytes);
    EXPECT_TRUE(same(audio_payloads(), base));
}

} // namespace
} // namespace hdext::test
