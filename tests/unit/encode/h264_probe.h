// Decodes H.264 pictures taken from a consumer list to learn the size they show at.
#pragma once
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <utility>
#include <vector>

#include "core/frame.h"

namespace capture_test {

// The payload of a frame as one contiguous buffer (chunks are chained in any order; each
// knows its index).
inline std::vector<uint8_t> frame_bytes(frame_buff* f) {
    std::vector<frame_buff*> chunks{f};
    for (frame_buff* c = frame_ctl_of(f)->chain; c; c = frame_ctl_of(c)->chain) chunks.push_back(c);
    std::sort(chunks.begin() + 1, chunks.end(),
              [](frame_buff* a, frame_buff* b) { return a->index < b->index; });
    std::vector<uint8_t> out;
    for (frame_buff* c : chunks) out.insert(out.end(), c->data, c->data + c->len);
    out.resize(std::min<size_t>(out.size(), f->total));
    return out;
}

class H264Probe {
public:
    H264Probe() {
        ctx_ = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
        avcodec_open2(ctx_, nullptr, nullptr);
        pkt_ = av_packet_alloc();
        pic_ = av_frame_alloc();
    }
    ~H264Probe() {
        av_frame_free(&pic_);
        av_packet_free(&pkt_);
        avcodec_free_context(&ctx_);
    }
    // Feeds one access unit; returns the size of the pictures it yields, or {0, 0}.
    std::pair<int, int> feed(std::vector<uint8_t> au) {
        au.resize(au.size() + AV_INPUT_BUFFER_PADDING_SIZE);
        pkt_->data = au.data();
        pkt_->size = static_cast<int>(au.size() - AV_INPUT_BUFFER_PADDING_SIZE);
        std::pair<int, int> size{0, 0};
        if (avcodec_send_packet(ctx_, pkt_) < 0) return size;
        while (avcodec_receive_frame(ctx_, pic_) == 0) size = {pic_->width, pic_->height};
        return size;
    }

private:
    AVCodecContext* ctx_;
    AVPacket* pkt_;
    AVFrame* pic_;
};

} // namespace capture_test
