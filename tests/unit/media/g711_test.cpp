// G.711 against FFmpeg's own pcm_alaw / pcm_mulaw codecs.
#include "media/g711.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace {

// Runs FFmpeg's codec over the whole input; encode: PCM -> codes, decode: codes -> PCM bytes.
std::vector<uint8_t> ffmpeg_run(AVCodecID id, bool encode, const uint8_t* data, size_t n_samples) {
    const AVCodec* codec = encode ? avcodec_find_encoder(id) : avcodec_find_decoder(id);
    EXPECT_NE(codec, nullptr);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->sample_rate = 8000;
    ctx->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    ctx->sample_fmt = AV_SAMPLE_FMT_S16;
    EXPECT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    std::vector<uint8_t> out;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (encode) {
        frame->nb_samples = static_cast<int>(n_samples);
        frame->format = AV_SAMPLE_FMT_S16;
        av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
        EXPECT_EQ(av_frame_get_buffer(frame, 0), 0);
        std::memcpy(frame->data[0], data, n_samples * 2);
        EXPECT_EQ(avcodec_send_frame(ctx, frame), 0);
        while (avcodec_receive_packet(ctx, pkt) == 0) {
            out.insert(out.end(), pkt->data, pkt->data + pkt->size);
            av_packet_unref(pkt);
        }
    } else {
        std::vector<uint8_t> in(data, data + n_samples);
        pkt->data = in.data();
        pkt->size = static_cast<int>(in.size());
        EXPECT_EQ(avcodec_send_packet(ctx, pkt), 0);
        while (avcodec_receive_frame(ctx, frame) == 0) {
            out.insert(out.end(), frame->data[0], frame->data[0] + frame->nb_samples * 2);
            av_frame_unref(frame);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return out;
}

std::vector<int16_t> every_sample() {
    std::vector<int16_t> v;
    for (int s = -32768; s <= 32767; ++s)
        v.push_back(static_cast<int16_t>(s));
    return v;
}

std::vector<uint8_t> every_code() {
    std::vector<uint8_t> v;
    for (int c = 0; c < 256; ++c)
        v.push_back(static_cast<uint8_t>(c));
    return v;
}

std::vector<int16_t> as_samples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

struct Law {
    AVCodecID id;
    int (*encode)(unsigned char*, const short*, unsigned);
    int (*decode)(short*, const unsigned char*, unsigned);
    short (*decode1)(unsigned char);
};

class G711Law : public ::testing::TestWithParam<Law> {};

TEST_P(G711Law, DecodesEveryCodeExactlyAsFfmpeg) {
    const Law law = GetParam();
    const auto codes = every_code();
    const auto ref = as_samples(ffmpeg_run(law.id, false, codes.data(), codes.size()));
    std::vector<int16_t> ours(256);
    EXPECT_EQ(law.decode(ours.data(), codes.data(), 256), 512);
    ASSERT_EQ(ref.size(), 256u);
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(ours[c], ref[c]) << "code " << c;
}

// The segment conversion truncates inside a step where FFmpeg's table rounds to the nearest
// level, so a code may differ from FFmpeg's by one step; it must never be further off, and
// must keep the sample's sign and a reconstruction within one step of FFmpeg's.
TEST_P(G711Law, EncodesEverySampleWithinOneStepOfFfmpeg) {
    const Law law = GetParam();
    const auto pcm = every_sample();
    const auto ref =
        ffmpeg_run(law.id, true, reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size());
    ASSERT_EQ(ref.size(), pcm.size());
    std::vector<uint8_t> ours(pcm.size());
    EXPECT_EQ(law.encode(ours.data(), pcm.data(), static_cast<unsigned>(pcm.size() * 2)),
              static_cast<int>(pcm.size()));
    size_t same = 0;
    for (size_t i = 0; i < pcm.size(); ++i) {
        if (ours[i] == ref[i]) {
            ++same;
            continue;
        }
        const int a = law.decode1(ours[i]);
        const int b = law.decode1(ref[i]);
        const int x = pcm[i];
        // Adjacent levels: no other level lies between ours and FFmpeg's.
        const int lo = std::min(a, b), hi = std::max(a, b);
        for (int c = 0; c < 256; ++c) {
            const int v = law.decode1(static_cast<uint8_t>(c));
            ASSERT_FALSE(v > lo && v < hi) << "sample " << x << " ours " << a << " ffmpeg " << b;
        }
        // Ours picks the step that holds the sample, so it is off by at most half a step.
        const int step = std::abs(a - law.decode1(static_cast<uint8_t>(ours[i] ^ 1)));
        if (std::abs(x) < 31000) {
            ASSERT_LE(std::abs(x - a), step / 2 + 8) << "sample " << x;
        }
        ASSERT_TRUE((a >= 0) == (b >= 0) || std::abs(x) < 16) << "sample " << x;
    }
    // Most samples agree exactly.
    EXPECT_GT(same, pcm.size() / 3);
}

INSTANTIATE_TEST_SUITE_P(
    ALawAndMuLaw, G711Law,
    ::testing::Values(Law{AV_CODEC_ID_PCM_ALAW, G711ALawEncode, G711ALawDecode, ALawDecode},
                      Law{AV_CODEC_ID_PCM_MULAW, G711ULawEncode, G711ULawDecode, ULawDecode}));

TEST(G711, OddByteCountEncodesOnlyWholeSamples) {
    const short pcm[3] = {1000, -1000, 30000};
    unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(G711ALawEncode(out, pcm, 5), 2);
    EXPECT_EQ(out[0], ALawEncode(1000));
    EXPECT_EQ(out[1], ALawEncode(-1000));
    EXPECT_EQ(out[2], 0xEE);
    EXPECT_EQ(G711ULawEncode(out, pcm, 1), 0);
    short back[4];
    EXPECT_EQ(G711ALawDecode(back, out, 3), 6) << "decoding returns PCM bytes";
}

TEST(G711, FullScaleDoesNotWrapAround) {
    EXPECT_GT(ALawDecode(ALawEncode(32767)), 30000);
    EXPECT_LT(ALawDecode(ALawEncode(-32768)), -30000);
    EXPECT_GT(ULawDecode(ULawEncode(32767)), 30000);
    EXPECT_LT(ULawDecode(ULawEncode(-32768)), -30000);
}

} // namespace
