// Simulated encoder channels: real H.264 (libx264) or JPEG through libavcodec. Pictures bound in
// from capture are encoded on the channel's own thread; each encoded picture waits as one
// stream of packs (its NAL units) until read, and the channel's descriptor is readable while
// one waits. H.264 access units carry the stage stamps (sim/mpi/stages.h).
#include "mpi/mpi.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include "sim/mpi/stages.h"
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace hdext::sim {
namespace {

// As a capture-to-encoder binding holds a few frame buffers: a busy host's encoder drops the
// oldest picture rather than encoding pictures half a second old (which the RX would then have
// to drop as late); eight ride out a slow picture now and then (a new format's first ones).
constexpr size_t kInputDepth = 8;
constexpr size_t kOutputDepth = 120;
// The rate control's buffer, in milliseconds of the bit rate: how far one picture may exceed its
// share. A key picture of that size must cross a link that carries just the rate well within a
// live picture's budget.
constexpr int64_t kRcBufferMs = 250;

struct EncodedPicture {
    std::vector<uint8_t> data;
    std::vector<std::pair<uint32_t, uint32_t>> nals; // offset, length
    uint64_t pts = 0;
    std::optional<size_t> stages; // where its stage stamps are
};

struct VencChn {
    int chn = 0;
    ot_venc_chn_attr attr{};
    ot_venc_rc_param rc{};
    std::mutex mu;
    std::condition_variable cv;
    bool started = false;
    bool stopping = false;
    bool destroyed = false;
    bool idr_wanted = false;
    std::deque<AVFrame*> input;
    std::deque<EncodedPicture> output;
    int efd = -1;
    uint32_t seq = 0;
    std::thread worker;
    VencStats stats;
};

struct VencState {
    std::mutex mu;
    std::map<int, std::shared_ptr<VencChn>> chns;
};
VencState& st() {
    static VencState s;
    return s;
}

std::shared_ptr<VencChn> find(int chn) {
    std::lock_guard lock(st().mu);
    auto it = st().chns.find(chn);
    return it == st().chns.end() ? nullptr : it->second;
}

bool is_jpeg(int payload) {
    return payload == OT_PT_JPEG || payload == OT_PT_MJPEG;
}

// Splits an Annex B access unit into its NAL units (each with its start code).
void split_nals(EncodedPicture& p) {
    const std::vector<uint8_t>& d = p.data;
    std::vector<uint32_t> starts;
    for (size_t i = 0; i + 3 <= d.size(); ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            const size_t s = (i > 0 && d[i - 1] == 0) ? i - 1 : i;
            if (starts.empty() || starts.back() != s)
                starts.push_back(static_cast<uint32_t>(s));
            i += 2;
        }
    }
    if (starts.empty() || starts.front() != 0)
        starts.insert(starts.begin(), 0);
    for (size_t i = 0; i < starts.size(); ++i) {
        const uint32_t end =
            i + 1 < starts.size() ? starts[i + 1] : static_cast<uint32_t>(d.size());
        p.nals.emplace_back(starts[i], end - starts[i]);
    }
}

// Puts the stage stamps in front of the access unit's first slice (where an SEI message
// belongs): captured as the picture's time stamp, encoded as now.
void add_stage_stamps(EncodedPicture& p) {
    std::vector<uint8_t>& d = p.data;
    size_t at = d.size();
    for (size_t i = 0; i + 4 <= d.size(); ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            const int type = d[i + 3] & 0x1F;
            if (type == 1 || type == 5) {
                at = (i > 0 && d[i - 1] == 0) ? i - 1 : i;
                break;
            }
            i += 2;
        }
    }
    const std::vector<uint8_t> sei = stage_sei(p.pts, now_us());
    d.insert(d.begin() + static_cast<long>(at), sei.begin(), sei.end());
    p.stages = at;
}

// Constant bit rate at kbps: libx264 takes a change between two pictures.
void set_rate(AVCodecContext* ctx, uint32_t kbps) {
    const int64_t bps = static_cast<int64_t>(kbps) * 1000;
    ctx->bit_rate = bps;
    ctx->rc_max_rate = bps;
    ctx->rc_min_rate = bps;
    ctx->rc_buffer_size = static_cast<int>(bps * kRcBufferMs / 1000);
}

AVCodecContext* open_encoder(const ot_venc_chn_attr& a) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); }); // no per-encoder statistics
    const AVCodec* codec = nullptr;
    if (a.payload == OT_PT_H264)
        codec = avcodec_find_encoder_by_name("libx264");
    else if (a.payload == OT_PT_H265)
        codec = avcodec_find_encoder_by_name("libx265");
    else if (is_jpeg(a.payload))
        codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!codec)
        return nullptr;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    const int rate = a.rc.dst_frame_rate > 0 ? static_cast<int>(a.rc.dst_frame_rate) : 60;
    ctx->width = static_cast<int>(a.width);
    ctx->height = static_cast<int>(a.height);
    ctx->time_base = AVRational{1, 1000000};
    ctx->framerate = AVRational{rate, 1};
    ctx->thread_count = 1;
    if (is_jpeg(a.payload)) {
        ctx->pix_fmt = AV_PIX_FMT_YUVJ420P;
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = FF_QP2LAMBDA * 4;
    } else {
        ctx->pix_fmt = AV_PIX_FMT_NV12;
        set_rate(ctx, a.rc.bit_rate);
        ctx->gop_size = a.rc.gop > 0 ? static_cast<int>(a.rc.gop) : 2 * rate;
        ctx->max_b_frames = 0;
        // Two slices encoded side by side (the low-latency tuning slices rather than pipelines
        // pictures): on two cores a late picture catches up in half the time.
        ctx->thread_count = 2;
        av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
        av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
        av_opt_set(ctx->priv_data, "forced-idr", "1", 0); // a requested key picture is an IDR
    }
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return nullptr;
    }
    return ctx;
}

void publish(VencChn& c, EncodedPicture&& p) {
    std::lock_guard lock(c.mu);
    if (c.output.size() >= kOutputDepth) {
        ++c.stats.dropped;
        return;
    }
    c.stats.bytes += p.data.size();
    ++c.stats.encoded;
    c.output.push_back(std::move(p));
    if (c.efd >= 0) {
        const uint64_t one = 1;
        (void)!write(c.efd, &one, sizeof(one));
    }
    c.cv.notify_all();
}

void run_encoder(VencChn* c, ot_venc_chn_attr attr) {
    pthread_setname_np(pthread_self(), "sim_venc");
    AVCodecContext* ctx = open_encoder(attr);
    SwsContext* sws = nullptr;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* conv = nullptr;
    for (;;) {
        AVFrame* in = nullptr;
        {
            std::unique_lock lock(c->mu);
            c->cv.wait(lock, [c] { return c->stopping || !c->input.empty(); });
            if (c->stopping)
                break;
            in = c->input.front();
            c->input.pop_front();
        }
        if (!ctx || in->width != ctx->width || in->height != ctx->height) {
            std::lock_guard lock(c->mu);
            ++c->stats.dropped;
            av_frame_free(&in);
            continue;
        }
        AVFrame* src = in;
        if (ctx->pix_fmt != in->format) {
            if (!conv) {
                conv = av_frame_alloc();
                conv->format = ctx->pix_fmt;
                conv->width = ctx->width;
                conv->height = ctx->height;
                av_frame_get_buffer(conv, 32);
                sws = sws_getContext(in->width, in->height, static_cast<AVPixelFormat>(in->format),
                                     ctx->width, ctx->height, ctx->pix_fmt, SWS_FAST_BILINEAR,
                                     nullptr, nullptr, nullptr);
            }
            av_frame_make_writable(conv);
            sws_scale(sws, in->data, in->linesize, 0, in->height, conv->data, conv->linesize);
            conv->pts = in->pts;
            src = conv;
        }
        uint32_t kbps;
        {
            std::lock_guard lock(c->mu);
            src->pict_type = c->idr_wanted ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
            c->idr_wanted = false;
            kbps = c->attr.rc.bit_rate;
        }
        if (!is_jpeg(attr.payload) && kbps != attr.rc.bit_rate) {
            attr.rc.bit_rate = kbps;
            set_rate(ctx, kbps);
        }
        if (avcodec_send_frame(ctx, src) == 0) {
            while (avcodec_receive_packet(ctx, pkt) == 0) {
                EncodedPicture p;
                p.data.assign(pkt->data, pkt->data + pkt->size);
                p.pts = static_cast<uint64_t>(pkt->pts);
                if (is_jpeg(attr.payload)) {
                    p.nals.emplace_back(0, static_cast<uint32_t>(p.data.size()));
                } else {
                    if (attr.payload == OT_PT_H264)
                        add_stage_stamps(p);
                    split_nals(p);
                }
                publish(*c, std::move(p));
                av_packet_unref(pkt);
            }
        }
        av_frame_free(&in);
    }
    av_frame_free(&conv);
    sws_freeContext(sws);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
}

void stop_worker(VencChn& c) {
    {
        std::lock_guard lock(c.mu);
        if (!c.started)
            return;
        c.started = false;
        c.stopping = true;
        c.cv.notify_all();
    }
    c.worker.join();
    std::lock_guard lock(c.mu);
    c.stopping = false;
    for (AVFrame* f : c.input)
        av_frame_free(&f);
    c.input.clear();
}

} // namespace

// Pictures bound in from capture.
void venc_sink(int, int chn, const Picture& pic) {
    std::shared_ptr<VencChn> c = find(chn);
    if (!c)
        return;
    std::lock_guard lock(c->mu);
    if (!c->started)
        return;
    if (c->input.size() >= kInputDepth) {
        AVFrame* old = c->input.front();
        c->input.pop_front();
        av_frame_free(&old);
        ++c->stats.dropped;
    }
    c->input.push_back(av_frame_clone(pic.frame));
    c->cv.notify_all();
}

VencStats venc_stats(int chn) {
    return with_locked(find(chn), VencStats{}, [](const VencChn& c) { return c.stats; });
}

} // namespace hdext::sim

using namespace hdext::sim;

namespace {
int venc_err(int code) {
    return ot_err(OT_ID_VENC, code);
}
bool supported(int payload) {
    return payload == OT_PT_H264 || payload == OT_PT_H265 || payload == OT_PT_JPEG ||
           payload == OT_PT_MJPEG;
}
bool valid_attr(const ot_venc_chn_attr* a) {
    return a->width >= 64 && a->height >= 64 && a->width <= a->max_width &&
           a->height <= a->max_height && (a->width % 2) == 0 && (a->height % 2) == 0;
}
} // namespace

int ss_mpi_venc_create_chn(int chn, const ot_venc_chn_attr* attr) {
    if (!attr)
        return venc_err(OT_ERR_NULL_PTR);
    if (chn < 0 || chn >= 128)
        return venc_err(OT_ERR_INVALID_CHN);
    if (!supported(attr->payload))
        return venc_err(OT_ERR_NOT_SUPPORT);
    if (!valid_attr(attr))
        return venc_err(OT_ERR_ILLEGAL_PARAM);
    if (attr->payload == OT_PT_H265 && !avcodec_find_encoder_by_name("libx265"))
        return venc_err(OT_ERR_NOT_SUPPORT);
    std::lock_guard lock(st().mu);
    if (st().chns.count(chn))
        return venc_err(OT_ERR_EXIST);
    auto c = std::make_shared<VencChn>();
    c->chn = chn;
    c->attr = *attr;
    c->efd = eventfd(0, EFD_NONBLOCK | EFD_SEMAPHORE | EFD_CLOEXEC);
    st().chns[chn] = c;
    return 0;
}

int ss_mpi_venc_destroy_chn(int chn) {
    std::shared_ptr<VencChn> c;
    {
        std::lock_guard lock(st().mu);
        auto it = st().chns.find(chn);
        if (it == st().chns.end())
            return venc_err(OT_ERR_UNEXIST);
        c = it->second;
        st().chns.erase(it);
    }
    stop_worker(*c);
    std::lock_guard lock(c->mu);
    c->destroyed = true;
    c->output.clear();
    if (c->efd >= 0)
        close(c->efd);
    c->efd = -1;
    c->cv.notify_all();
    return 0;
}

int ss_mpi_venc_start_chn(int chn, const ot_venc_start_param* param) {
    if (!param)
        return venc_err(OT_ERR_NULL_PTR);
    std::shared_ptr<VencChn> c = find(chn);
    if (!c)
        return venc_err(OT_ERR_UNEXIST);
    std::lock_guard lock(c->mu);
    if (c->started)
        return 0;
    c->started = true;
    c->worker = std::thread([p = c.get(), a = c->attr] { run_encoder(p, a); });
    return 0;
}

int ss_mpi_venc_stop_chn(int chn) {
    std::shared_ptr<VencChn> c = find(chn);
    if (!c)
        return venc_err(OT_ERR_UNEXIST);
    stop_worker(*c);
    return 0;
}

int ss_mpi_venc_get_chn_attr(int chn, ot_venc_chn_attr* attr) {
    if (!attr)
        return venc_err(OT_ERR_NULL_PTR);
    return with_locked(find(chn), venc_err(OT_ERR_UNEXIST), [&](VencChn& c) {
        *attr = c.attr;
        return 0;
    });
}

int ss_mpi_venc_set_chn_attr(int chn, const ot_venc_chn_attr* attr) {
    if (!attr)
        return venc_err(OT_ERR_NULL_PTR);
    std::shared_ptr<VencChn> c = find(chn);
    if (!c)
        return venc_err(OT_ERR_UNEXIST);
    if (!valid_attr(attr) || attr->payload != c->attr.payload)
        return venc_err(OT_ERR_ILLEGAL_PARAM);
    std::lock_guard lock(c->mu);
    if (c->started) {
        // A running channel takes a new bit rate from its next picture on, and nothing else.
        ot_venc_chn_attr same = c->attr;
        same.rc.bit_rate = attr->rc.bit_rate;
        if (std::memcmp(&same, attr, sizeof same) != 0 || attr->rc.bit_rate == 0)
            return venc_err(OT_ERR_NOT_PERM);
    }
    c->attr = *attr;
    return 0;
}

int ss_mpi_venc_get_rc_param(int chn, ot_venc_rc_param* param) {
    if (!param)
        return venc_err(OT_ERR_NULL_PTR);
    return with_locked(find(chn), venc_err(OT_ERR_UNEXIST), [&](VencChn& c) {
        *param = c.rc;
        return 0;
    });
}

int ss_mpi_venc_set_rc_param(int chn, const ot_venc_rc_param* param) {
    if (!param)
        return venc_err(OT_ERR_NULL_PTR);
    return with_locked(find(chn), venc_err(OT_ERR_UNEXIST), [&](VencChn& c) {
        c.rc = *param;
        return 0;
    });
}

int ss_mpi_venc_get_fd(int chn) {
    return with_locked(find(chn), -1, [&](VencChn& c) {
        if (c.efd < 0) {
            c.efd = eventfd(static_cast<unsigned>(c.output.size()),
                            EFD_NONBLOCK | EFD_SEMAPHORE | EFD_CLOEXEC);
        }
        return c.efd;
    });
}

int ss_mpi_venc_close_fd(int chn) {
    return with_locked(find(chn), venc_err(OT_ERR_UNEXIST), [&](VencChn& c) {
        if (c.efd >= 0)
            close(c.efd);
        c.efd = -1;
        return 0;
    });
}

int ss_mpi_venc_query_status(int chn, ot_venc_chn_status* status) {
    if (!status)
        return venc_err(OT_ERR_NULL_PTR);
    return with_locked(find(chn), venc_err(OT_ERR_UNEXIST), [&](VencChn& c) {
        status->left_stream_frames = static_cast<uint32_t>(c.output.size());
        status->cur_packs =
            c.output.empty() ? 0 : static_cast<uint32_t>(c.output.front().nals.size());
        return 0;
    });
}

int ss_mpi_venc_get_stream(int chn, ot_venc_stream* stream, int timeout_ms) {
    if (!stream || !stream->pack)
        return venc_err(OT_ERR_NULL_PTR);
    std::shared_ptr<VencChn> c = find(chn);
    if (!c)
        return venc_err(OT_ERR_UNEXIST);
    std::unique_lock lock(c->mu);
    auto ready = [&] { return !c->output.empty() || c->destroyed; };
    if (timeout_ms < 0)
        c->cv.wait(lock, ready);
    else
        c->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
    if (c->output.empty())
        return venc_err(OT_ERR_BUF_EMPTY);
    EncodedPicture& p = c->output.front();
    if (stream->pack_cnt < p.nals.size())
        return venc_err(OT_ERR_ILLEGAL_PARAM);
    if (p.stages)
        stamp_sent(p.data.data(), *p.stages, now_us());
    for (size_t i = 0; i < p.nals.size(); ++i) {
        ot_venc_pack& pk = stream->pack[i];
        pk.addr = p.data.data() + p.nals[i].first;
        pk.len = p.nals[i].second;
        pk.offset = 0;
        pk.pts = p.pts;
        pk.data_type = 0;
    }
    stream->pack_cnt = static_cast<uint32_t>(p.nals.size());
    stream->seq = c->seq;
    return 0;
}

int ss_mpi_venc_release_stream(int chn, ot_venc_stream* stream) {
    if (!stream)
        return venc_err(OT_ERR_NULL_PTR);
    std::shared_ptr<VencChn> c = find(chn);
    if (!c)
        return venc_err(OT_ERR_UNEXIST);
    std::lock_guard lock(c->mu);
    if (c->output.empty() || stream->seq != c->seq)
        return venc_err(OT_ERR_ILLEGAL_PARAM);
    c->output.pop_front();
    ++c->seq;
    if (c->efd >= 0) {
        uint64_t v = 0;
        (void)!read(c->efd, &v, sizeof(v));
    }
    return 0;
}

int ss_mpi_venc_request_idr(int chn, int) {
    return with_locked(find(chn), venc_err(OT_ERR_UNEXIST), [](VencChn& c) {
        c.idr_wanted = true;
        return 0;
    });
}

namespace {
std::mutex g_venc_mod_mu;
ot_venc_mod_param g_venc_mod{};
} // namespace

int ss_mpi_venc_get_mod_param(ot_venc_mod_param* param) {
    if (!param)
        return venc_err(OT_ERR_NULL_PTR);
    std::lock_guard lock(g_venc_mod_mu);
    *param = g_venc_mod;
    return 0;
}

int ss_mpi_venc_set_mod_param(const ot_venc_mod_param* param) {
    if (!param)
        return venc_err(OT_ERR_NULL_PTR);
    std::lock_guard lock(g_venc_mod_mu);
    g_venc_mod = *param;
    return 0;
}
