// Simulated decoder channels: H.264 and JPEG through libavcodec. Each whole picture sent is
// queued, decoded on the channel's thread and handed to the output bound to the channel, with
// its stage stamps (sim/mpi/stages.h) when it carries them.
#include "mpi/mpi.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include "sim/mpi/stages.h"
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace hdext::sim {
namespace {

constexpr size_t kMaxQueued = 16;

struct Stream {
    std::vector<uint8_t> data;
    uint64_t pts;
    std::optional<StageStamps> stages;
};

struct VdecChn {
    int chn = 0;
    ot_vdec_chn_attr attr{};
    ot_vdec_chn_param param{};
    std::mutex mu;
    std::condition_variable cv;
    std::deque<Stream> queue;
    size_t queued_bytes = 0;
    bool receiving = false;
    bool stopping = false;
    bool hold = false;
    bool flush = false; // a reset asks the worker to drop the decoder's state
    int display_mode = 0;
    uint64_t decoded = 0;
    std::thread worker;
};

struct VdecState {
    std::mutex mu;
    std::map<int, std::shared_ptr<VdecChn>> chns;
    std::map<int, bool> hold; // hooks set before a channel exists
    ot_vdec_mod_param mod{};
};
VdecState& st() {
    static VdecState s;
    return s;
}

std::shared_ptr<VdecChn> find(int chn) {
    std::lock_guard lock(st().mu);
    auto it = st().chns.find(chn);
    return it == st().chns.end() ? nullptr : it->second;
}

bool is_jpeg(int payload) {
    return payload == OT_PT_JPEG || payload == OT_PT_MJPEG;
}

AVCodecContext* open_decoder(int payload) {
    const AVCodec* codec = avcodec_find_decoder(is_jpeg(payload)        ? AV_CODEC_ID_MJPEG
                                                : payload == OT_PT_H265 ? AV_CODEC_ID_HEVC
                                                                        : AV_CODEC_ID_H264);
    if (!codec)
        return nullptr;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->thread_count = 2; // the encoder's two slices side by side; frame threads would delay
    ctx->thread_type = FF_THREAD_SLICE;
    ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(ctx, codec, nullptr) < 0)
        avcodec_free_context(&ctx);
    return ctx;
}

void run_decoder(VdecChn* c) {
    pthread_setname_np(pthread_self(), "sim_vdec");
    const int payload = c->attr.payload;
    const bool still = is_jpeg(payload);
    AVCodecContext* ctx = open_decoder(payload);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::deque<std::pair<int64_t, StageStamps>> in_decoder; // stamps by time stamp
    for (;;) {
        Stream s;
        bool flush = false;
        {
            std::unique_lock lock(c->mu);
            c->cv.wait(lock,
                       [c] { return c->stopping || c->flush || (!c->hold && !c->queue.empty()); });
            if (c->stopping)
                break;
            flush = c->flush;
            c->flush = false;
            if (!flush) {
                s = std::move(c->queue.front());
                c->queue.pop_front();
                c->queued_bytes -= s.data.size();
                c->cv.notify_all();
            }
        }
        if (!ctx)
            continue;
        if (flush) {
            avcodec_flush_buffers(ctx);
            in_decoder.clear();
            continue;
        }
        pkt->data = s.data.data();
        pkt->size = static_cast<int>(s.data.size());
        pkt->pts = static_cast<int64_t>(s.pts);
        if (avcodec_send_packet(ctx, pkt) < 0)
            continue;
        if (s.stages) {
            if (in_decoder.size() >= kMaxQueued)
                in_decoder.pop_front();
            in_decoder.emplace_back(pkt->pts, *s.stages);
        }
        while (avcodec_receive_frame(ctx, frame) == 0) {
            frame->pts = frame->best_effort_timestamp != AV_NOPTS_VALUE
                             ? frame->best_effort_timestamp
                             : frame->pts;
            {
                std::lock_guard lock(c->mu);
                ++c->decoded;
            }
            std::optional<StageStamps> stages;
            while (!in_decoder.empty() && in_decoder.front().first <= frame->pts) {
                if (in_decoder.front().first == frame->pts)
                    stages = in_decoder.front().second;
                in_decoder.pop_front();
            }
            if (stages)
                stages->decoded = now_us();
            deliver(OT_ID_VDEC, 0, c->chn, Picture{frame, still, stages ? &*stages : nullptr});
            av_frame_unref(frame);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
}

} // namespace

void vdec_hold(int chn, bool hold) {
    std::shared_ptr<VdecChn> c;
    {
        std::lock_guard lock(st().mu);
        st().hold[chn] = hold;
        auto it = st().chns.find(chn);
        if (it != st().chns.end())
            c = it->second;
    }
    if (!c)
        return;
    std::lock_guard lock(c->mu);
    c->hold = hold;
    c->cv.notify_all();
}

size_t vdec_queued(int chn) {
    return with_locked(find(chn), size_t{0}, [&](VdecChn& c) { return c.queue.size(); });
}

uint64_t vdec_decoded(int chn) {
    return with_locked(find(chn), uint64_t{0}, [&](VdecChn& c) { return c.decoded; });
}

} // namespace hdext::sim

using namespace hdext::sim;

namespace {
int vdec_err(int code) {
    return ot_err(OT_ID_VDEC, code);
}
} // namespace

int ss_mpi_vdec_create_chn(int chn, const ot_vdec_chn_attr* attr) {
    if (!attr)
        return vdec_err(OT_ERR_NULL_PTR);
    if (chn < 0 || chn >= 128)
        return vdec_err(OT_ERR_INVALID_CHN);
    if (attr->payload != OT_PT_H264 && attr->payload != OT_PT_H265 && !is_jpeg(attr->payload))
        return vdec_err(OT_ERR_NOT_SUPPORT);
    if (attr->width == 0 || attr->height == 0 || attr->frame_buf_size == 0)
        return vdec_err(OT_ERR_ILLEGAL_PARAM);
    std::lock_guard lock(st().mu);
    if (st().chns.count(chn))
        return vdec_err(OT_ERR_EXIST);
    auto c = std::make_shared<VdecChn>();
    c->chn = chn;
    c->attr = *attr;
    c->param.payload = attr->payload;
    c->hold = st().hold[chn];
    c->worker = std::thread([p = c.get()] { run_decoder(p); });
    st().chns[chn] = c;
    return 0;
}

int ss_mpi_vdec_destroy_chn(int chn) {
    std::shared_ptr<VdecChn> c;
    {
        std::lock_guard lock(st().mu);
        auto it = st().chns.find(chn);
        if (it == st().chns.end())
            return vdec_err(OT_ERR_UNEXIST);
        c = it->second;
        st().chns.erase(it);
    }
    {
        std::lock_guard lock(c->mu);
        c->stopping = true;
        c->cv.notify_all();
    }
    c->worker.join();
    return 0;
}

int ss_mpi_vdec_get_chn_param(int chn, ot_vdec_chn_param* param) {
    if (!param)
        return vdec_err(OT_ERR_NULL_PTR);
    return with_locked(find(chn), vdec_err(OT_ERR_UNEXIST), [&](VdecChn& c) {
        *param = c.param;
        return 0;
    });
}

int ss_mpi_vdec_set_chn_param(int chn, const ot_vdec_chn_param* param) {
    if (!param)
        return vdec_err(OT_ERR_NULL_PTR);
    return with_locked(find(chn), vdec_err(OT_ERR_UNEXIST), [&](VdecChn& c) {
        c.param = *param;
        return 0;
    });
}

int ss_mpi_vdec_start_recv_stream(int chn) {
    return with_locked(find(chn), vdec_err(OT_ERR_UNEXIST), [&](VdecChn& c) {
        c.receiving = true;
        return 0;
    });
}

int ss_mpi_vdec_stop_recv_stream(int chn) {
    return with_locked(find(chn), vdec_err(OT_ERR_UNEXIST), [&](VdecChn& c) {
        c.receiving = false;
        c.cv.notify_all();
        return 0;
    });
}

int ss_mpi_vdec_reset_chn(int chn) {
    return with_locked(find(chn), vdec_err(OT_ERR_UNEXIST), [&](VdecChn& c) {
        c.queue.clear();
        c.queued_bytes = 0;
        c.flush = true;
        c.cv.notify_all();
        return 0;
    });
}

int ss_mpi_vdec_set_display_mode(int chn, int mode) {
    return with_locked(find(chn), vdec_err(OT_ERR_UNEXIST), [&](VdecChn& c) {
        c.display_mode = mode;
        return 0;
    });
}

int ss_mpi_vdec_send_stream(int chn, const ot_vdec_stream* stream, int timeout_ms) {
    if (!stream || (!stream->addr && stream->len))
        return vdec_err(OT_ERR_NULL_PTR);
    std::shared_ptr<VdecChn> c = find(chn);
    if (!c)
        return vdec_err(OT_ERR_UNEXIST);
    std::optional<StageStamps> stages;
    if (c->attr.payload == OT_PT_H264 && (stages = read_stage_sei(stream->addr, stream->len)))
        stages->received = now_us();
    std::unique_lock lock(c->mu);
    if (!c->receiving)
        return vdec_err(OT_ERR_NOT_PERM);
    if (stream->len == 0)
        return 0;
    const size_t limit = std::max<size_t>(c->attr.stream_buf_size, 1u << 20);
    auto room = [&] {
        return !c->receiving || c->stopping ||
               (c->queue.size() < kMaxQueued && c->queued_bytes + stream->len <= limit);
    };
    if (timeout_ms < 0)
        c->cv.wait(lock, room);
    else
        c->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), room);
    if (!c->receiving || c->stopping)
        return vdec_err(OT_ERR_NOT_PERM);
    if (c->queue.size() >= kMaxQueued || c->queued_bytes + stream->len > limit)
        return vdec_err(OT_ERR_BUF_FULL);
    c->queue.push_back(Stream{std::vector<uint8_t>(stream->addr, stream->addr + stream->len),
                              stream->pts, stages});
    c->queued_bytes += stream->len;
    c->cv.notify_all();
    return 0;
}

int ss_mpi_vdec_get_mod_param(ot_vdec_mod_param* param) {
    if (!param)
        return vdec_err(OT_ERR_NULL_PTR);
    std::lock_guard lock(st().mu);
    *param = st().mod;
    return 0;
}

int ss_mpi_vdec_set_mod_param(const ot_vdec_mod_param* param) {
    if (!param)
        return vdec_err(OT_ERR_NULL_PTR);
    std::lock_guard lock(st().mu);
    st().mod = *param;
    return 0;
}

int ss_mpi_vdec_attach_vb_pool(int chn, const ot_vdec_pool_attr* pool) {
    if (!pool)
        return vdec_err(OT_ERR_NULL_PTR);
    return find(chn) ? 0 : vdec_err(OT_ERR_UNEXIST);
}

int ss_mpi_vdec_detach_vb_pool(int chn) {
    return find(chn) ? 0 : vdec_err(OT_ERR_UNEXIST);
}
