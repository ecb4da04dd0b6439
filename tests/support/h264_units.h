// H.264 access units from the software encoder (libx264 through libavcodec) for tests and
// benchmarks that feed the re-stream lists: a moving test picture, no B-frames, SPS/PPS before
// every IDR, Annex B. Empty when the encoder is missing.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace hdext::test {

inline std::vector<std::vector<uint8_t>> encode_h264(int width, int height, int fps, int frames, int gop,
                                                     int64_t bit_rate = 1000000, int slices = 1) {
    std::vector<std::vector<uint8_t>> out;
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return out;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = width;
    ctx->height = height;
    ctx->time_base = AVRational{1, fps};
    ctx->framerate = AVRational{fps, 1};
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->gop_size = gop;
    ctx->max_b_frames = 0;
    ctx->bit_rate = bit_rate;
    AVDictionary* o = nullptr;
    av_dict_set(&o, "preset", "ultrafast", 0);
    av_dict_set(&o, "tune", "zerolatency", 0);
    av_dict_set(&o, "x264-params", ("repeat-headers=1:slices=" + std::to_string(slices)).c_str(), 0);
    if (avcodec_open2(ctx, codec, &o) < 0) {
        av_dict_free(&o);
        avcodec_free_context(&ctx);
        return out;
    }
    av_dict_free(&o);
    AVFrame* pic = av_frame_alloc();
    pic->format = ctx->pix_fmt;
    pic->width = width;
    pic->height = height;
    av_frame_get_buffer(pic, 0);
    AVPacket* pkt = av_packet_alloc();
    auto drain = [&] {
        while (avcodec_receive_packet(ctx, pkt) == 0) {
            out.emplace_back(pkt->data, pkt->data + pkt->size);
            av_packet_unref(pkt);
        }
    };
    for (int i = 0; i < frames; ++i) {
        av_frame_make_writable(pic);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) pic->data[0][y * pic->linesize[0] + x] = static_cast<uint8_t>(
                    x + y + i * 3 + ((static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y + i) * 40503u) >> 27));
        for (int y = 0; y < height / 2; ++y) {
            memset(pic->data[1] + y * pic->linesize[1], 128, static_cast<size_t>(width / 2));
            memset(pic->data[2] + y * pic->linesize[2], static_cast<int>(64 + i % 128), static_cast<size_t>(width / 2));
        }
        pic->pts = i;
        avcodec_send_frame(ctx, pic);
        drain();
    }
    avcodec_send_frame(ctx, nullptr);
    drain();
    av_packet_free(&pkt);
    av_frame_free(&pic);
    avcodec_free_context(&ctx);
    return out;
}

} // namespace hdext::test
