// The software platform's audio: capture frame sizes, rates, tone or silence, the pollable
// descriptor; playback pacing, resampling and its board reports.
#include "mpi/mpi.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include "sim_board.h"
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <poll.h>
#include <vector>

namespace hdext::test {
namespace {

ot_aio_attr aio(int rate, uint32_t points) {
    ot_aio_attr a{};
    a.sample_rate = rate;
    a.bit_width = OT_AUDIO_BIT_WIDTH_16;
    a.frame_num = 30;
    a.point_num_per_frame = points;
    a.chn_cnt = 1;
    return a;
}

int zero_crossings(const std::vector<int16_t>& s) {
    int c = 0;
    for (size_t i = 1; i < s.size(); ++i)
        c += (s[i - 1] < 0) != (s[i] < 0);
    return c;
}

// A frame's samples, copied out of its byte buffer.
std::vector<int16_t> samples(const ot_audio_frame& f) {
    std::vector<int16_t> s(f.len / 2);
    std::memcpy(s.data(), f.virt_addr[0], s.size() * 2);
    return s;
}

// Input (ai) or output (ao) device `dev` opened at `rate`; resampling to or from `other` when set.
template <bool kIn> class SimAudio : public SimBoard {
  protected:
    void start(int dev, int rate, uint32_t points, int other) {
        const ot_aio_attr a = aio(rate, points);
        ASSERT_EQ((kIn ? ss_mpi_ai_set_pub_attr : ss_mpi_ao_set_pub_attr)(dev, &a), 0);
        ASSERT_EQ((kIn ? ss_mpi_ai_enable : ss_mpi_ao_enable)(dev), 0);
        ASSERT_EQ((kIn ? ss_mpi_ai_enable_chn : ss_mpi_ao_enable_chn)(dev, 0), 0);
        if (other) {
            ASSERT_EQ((kIn ? ss_mpi_ai_enable_resample : ss_mpi_ao_enable_resample)(dev, 0, other), 0);
        }
    }
    void stop(int dev) {
        ASSERT_EQ((kIn ? ss_mpi_ai_disable_chn : ss_mpi_ao_disable_chn)(dev, 0), 0);
        ASSERT_EQ((kIn ? ss_mpi_ai_disable : ss_mpi_ao_disable)(dev), 0);
    }
};
using SimAudioIn = SimAudio<true>;
using SimAudioOut = SimAudio<false>;

TEST_F(SimAudioIn, Frames557At48kArriveAs512At44k1WithAToneWhenTheSourceHasAudio) {
    write("/sim/hdmi-in", "1920x1080p60 audio=48000");
    start(0, 48000, 557, 44100);
    uint64_t last_ts = 0;
    for (int i = 0; i < 8; ++i) {
        ot_audio_frame f{};
        ASSERT_EQ(ss_mpi_ai_get_frame(0, 0, &f, nullptr, -1), 0);
        EXPECT_EQ(f.bit_width, OT_AUDIO_BIT_WIDTH_16);
        EXPECT_EQ(f.len, 512u * 2);
        // 1 kHz over 512 samples at 44100 Hz: about 23 sign changes.
        const int zc = zero_crossings(samples(f));
        EXPECT_GE(zc, 21);
        EXPECT_LE(zc, 25);
        if (i > 0) {
            EXPECT_EQ(f.seq, static_cast<uint32_t>(i));
            EXPECT_NEAR(static_cast<double>(f.time_stamp - last_ts), 557e6 / 48000,
                        1.5); // capture period in us
        }
        last_ts = f.time_stamp;
        EXPECT_EQ(ss_mpi_ai_release_frame(0, 0, &f, nullptr), 0);
    }
    stop(0);
}

TEST_F(SimAudioIn, SilenceWithoutSourceAudioOnEitherInput) {
    write("/sim/hdmi-in", "1280x720p60 audio=none");
    write("/sim/sdi-in", "none");
    start(0, 44100, 512, 0);
    start(1, 48000, 557, 0);
    for (int dev : {0, 1}) {
        ot_audio_frame f{};
        ASSERT_EQ(ss_mpi_ai_get_frame(dev, 0, &f, nullptr, -1), 0);
        EXPECT_EQ(f.len, dev == 0 ? 1024u : 557u * 2) << "no resampling asked: the device rate";
        const std::vector<int16_t> s = samples(f);
        for (size_t i = 0; i < s.size(); ++i)
            ASSERT_EQ(s[i], 0) << dev << " " << i;
        stop(dev);
    }
}

TEST_F(SimAudioOut, AFullBufferOfThirtyFramesMakesSendWait) {
    start(1, 48000, 512, 44100);
    std::vector<int16_t> pcm(512);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000 * i / 44100.0));
    ot_audio_frame f{};
    f.bit_width = OT_AUDIO_BIT_WIDTH_16;
    f.virt_addr[0] = reinterpret_cast<uint8_t*>(pcm.data());
    f.len = 1024;
    // Without waiting, frames go in until the buffer holds 30 not yet played (a slow host may
    // play one or two meanwhile).
    int accepted = 0;
    int ret = 0;
    while ((ret = ss_mpi_ao_send_frame(1, 0, &f, 0)) == 0 && accepted < 100)
        ++accepted;
    EXPECT_EQ(ret, ot_err(OT_ID_AO, OT_ERR_BUF_FULL));
    EXPECT_GE(accepted, 30);
    EXPECT_LT(accepted, 45);
    EXPECT_EQ(hdext::sim::ao_stats(1, 0).waits, 0u);
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(ss_mpi_ao_send_frame(1, 0, &f, -1), 0);
    const hdext::sim::AoStats s = hdext::sim::ao_stats(1, 0);
    const uint64_t frames = static_cast<uint64_t>(accepted) + 5;
    EXPECT_GE(s.waits, 1u);
    EXPECT_EQ(s.frames, frames);
    EXPECT_EQ(s.samples_in, frames * 512);
    // 44100 -> 48000: about 557 samples a frame once the resampler has filled.
    EXPECT_NEAR(static_cast<double>(s.samples_out), frames * 512 * 48000.0 / 44100, 64);
    stop(1);
    EXPECT_EQ(read("/sim/audio-out-1.wav").substr(0, 4), "RIFF");
}

TEST_F(SimAudioOut, DeviceAt44k1PlaysFramesAsTheyCome) {
    start(0, 44100, 512, 0);
    std::vector<int16_t> pcm(512, 100);
    ot_audio_frame f{};
    f.bit_width = OT_AUDIO_BIT_WIDTH_16;
    f.virt_addr[0] = reinterpret_cast<uint8_t*>(pcm.data());
    f.len = 1024;
    ASSERT_EQ(ss_mpi_ao_send_frame(0, 0, &f, -1), 0);
    EXPECT_EQ(hdext::sim::ao_stats(0, 0).samples_out, 512u);
    f.len = 1023;
    EXPECT_EQ(ss_mpi_ao_send_frame(0, 0, &f, -1), ot_err(OT_ID_AO, OT_ERR_ILLEGAL_PARAM));
    stop(0);
    f.len = 1024;
    EXPECT_EQ(ss_mpi_ao_send_frame(0, 0, &f, -1), ot_err(OT_ID_AO, OT_ERR_NOT_PERM));
}

TEST(SimAudio, ChannelsOpenOnlyOnAnExistingEnabledDevice) {
    for (int dev : {-1, 2, 1000}) {
        EXPECT_EQ(ss_mpi_ai_enable_chn(dev, 0), ot_err(OT_ID_AI, OT_ERR_INVALID_DEV)) << dev;
        EXPECT_EQ(ss_mpi_ao_enable_chn(dev, 0), ot_err(OT_ID_AO, OT_ERR_INVALID_DEV)) << dev;
    }
    EXPECT_EQ(ss_mpi_ai_enable_chn(1, 0), ot_err(OT_ID_AI, OT_ERR_NOT_PERM)); // device off
    EXPECT_EQ(ss_mpi_ao_enable_chn(1, 0), ot_err(OT_ID_AO, OT_ERR_NOT_PERM));
    EXPECT_EQ(ss_mpi_ai_get_fd(2, 0), -1);
}

} // namespace
} // namespace hdext::test
