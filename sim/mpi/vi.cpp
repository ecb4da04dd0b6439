// Simulated capture: while the board's source file says a source is present, each enabled
// channel produces NV12 pictures at its size and rate, paced by CLOCK_MONOTONIC, stamped with
// frame number and capture time, and hands them to whatever is bound to it. The board's
// sim/capture/status counts the pictures captured (key=value lines, at most twice a second).
#include "board/figures.h"
#include "mpi/mpi.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include "sim/mpi/stamp.h"
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/pixfmt.h>
}

namespace hdext::sim {
namespace {

constexpr uint64_t kSourceRecheckUs = 200000;
constexpr uint64_t kReportEveryUs = 500000;

struct ViDev {
    ot_vi_dev_attr attr{};
    bool attr_set = false;
    bool enabled = false;
};

struct ViChn {
    int dev = 0, chn = 0;
    ot_vi_chn_attr attr{};
    std::thread worker;
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> produced{0};
};

struct ViState {
    std::mutex mu;
    std::map<int, ViDev> devs;
    std::map<std::pair<int, int>, ot_vi_chn_attr> chn_attr;
    std::map<std::pair<int, int>, std::unique_ptr<ViChn>> running;
    ot_vi_mod_param mod{};
};
ViState& st() {
    static ViState s;
    return s;
}

// Source file and whether it currently carries video (capture interface mode 1 reads the SDI
// source, the others the HDMI source).
bool source_present(uint32_t intf_mode) {
    const std::string line = read_board_line(intf_mode == 1 ? "/sim/sdi-in" : "/sim/hdmi-in");
    return !line.empty() && line.rfind("none", 0) != 0;
}

// Pictures captured by every channel since the process started: a channel restarted by a format
// change keeps counting, so a reader can take the difference over any window.
struct CaptureReport {
    std::mutex mu;
    uint64_t captured = 0;
    uint64_t last_write_us = 0;
};
CaptureReport& report() {
    static CaptureReport r;
    return r;
}

void report_capture(const char* source, int w, int h, int rate, uint64_t newly, bool force) {
    CaptureReport& r = report();
    std::lock_guard lock(r.mu);
    r.captured += newly;
    const uint64_t now = now_us();
    if (!force && now - r.last_write_us < kReportEveryUs)
        return;
    r.last_write_us = now;
    char text[160];
    std::snprintf(text, sizeof text, "source=%s\nwidth=%d\nheight=%d\nrate=%d\nframes_captured=%llu\n",
                  source, w, h, rate, static_cast<unsigned long long>(r.captured));
    write_board_file("/sim/capture/status", text + board::figure_lines(board::FigureSheet::capture));
}

int stride_of(int w) {
    return (w + 63) & ~63;
}

// Picture buffers for one channel, handed back when the last user (the encoder, perhaps after
// the channel stopped) lets go. A fresh 3 MB buffer a picture costs more than drawing it.
struct BufferPool {
    std::mutex mu;
    std::vector<uint8_t*> spare;
    size_t size = 0;
    ~BufferPool() {
        for (uint8_t* p : spare)
            av_free(p);
    }
};
constexpr size_t kSpareBuffers = 8;

void give_back(void* opaque, uint8_t* data) {
    auto* owner = static_cast<std::shared_ptr<BufferPool>*>(opaque);
    {
        std::lock_guard lock((*owner)->mu);
        if ((*owner)->spare.size() < kSpareBuffers) {
            (*owner)->spare.push_back(data);
            data = nullptr;
        }
    }
    av_free(data);
    delete owner;
}

// An NV12 picture whose planes live in one buffer of the pool.
AVFrame* pooled_frame(const std::shared_ptr<BufferPool>& pool, int w, int h) {
    uint8_t* data = nullptr;
    {
        std::lock_guard lock(pool->mu);
        if (!pool->spare.empty()) {
            data = pool->spare.back();
            pool->spare.pop_back();
        }
    }
    if (!data)
        data = static_cast<uint8_t*>(av_malloc(pool->size));
    if (!data)
        return nullptr;
    auto* owner = new std::shared_ptr<BufferPool>(pool);
    AVBufferRef* buf = av_buffer_create(data, pool->size, give_back, owner, 0);
    if (!buf) {
        av_free(data);
        delete owner;
        return nullptr;
    }
    AVFrame* f = av_frame_alloc();
    f->format = AV_PIX_FMT_NV12;
    f->width = w;
    f->height = h;
    f->buf[0] = buf;
    f->linesize[0] = f->linesize[1] = stride_of(w);
    f->data[0] = buf->data;
    f->data[1] = buf->data + static_cast<size_t>(f->linesize[0]) * static_cast<size_t>(h);
    return f;
}

void run_channel(ViChn* c, uint32_t intf_mode) {
    pthread_setname_np(pthread_self(), "sim_vi");
    const ot_vi_chn_attr a = c->attr;
    const int w = (a.out_width > 0 ? a.out_width : a.width) & ~1;
    const int h = (a.out_height > 0 ? a.out_height : a.height) & ~1;
    int rate = a.dst_frame_rate > 0 ? a.dst_frame_rate : a.src_frame_rate;
    if (rate <= 0)
        rate = 60;
    if (w <= 0 || h <= 0)
        return;
    const uint64_t period = 1000000u / static_cast<uint64_t>(rate);
    auto pool = std::make_shared<BufferPool>();
    pool->size = static_cast<size_t>(stride_of(w)) * static_cast<size_t>(h) * 3 / 2;
    uint64_t next = now_us();
    uint64_t last_check = 0;
    bool present = false;
    uint32_t k = 0;
    const char* source = intf_mode == 1 ? "sdi" : "hdmi";
    while (!c->stop.load(std::memory_order_relaxed)) {
        sleep_until_us(next);
        const uint64_t t = now_us();
        next += period;
        if (next + 4 * period < t)
            next = t + period; // fell far behind: do not burst
        if (t - last_check >= kSourceRecheckUs) {
            present = source_present(intf_mode);
            last_check = t;
        }
        if (!present || !has_binding(OT_ID_VI, c->dev, c->chn))
            continue;
        AVFrame* f = pooled_frame(pool, w, h);
        if (!f)
            continue;
        draw_test_picture(f->data[0], f->linesize[0], f->data[1], f->linesize[1], w, h, k);
        const uint64_t cap = now_us();
        write_stamp(f->data[0], f->linesize[0], w, h, Stamp{k, cap});
        f->pts = static_cast<int64_t>(cap);
        // Frame numbers count the pictures handed on, so an unbind between the check above and
        // here costs no number.
        const int taken = deliver(OT_ID_VI, c->dev, c->chn, Picture{f, false});
        av_frame_free(&f);
        if (taken == 0)
            continue;
        ++k;
        c->produced.store(k, std::memory_order_relaxed);
        report_capture(source, w, h, rate, 1, k == 1);
    }
    report_capture("none", w, h, rate, 0, true);
}

} // namespace

uint32_t vi_frames_produced(int dev, int chn) {
    std::lock_guard lock(st().mu);
    auto it = st().running.find({dev, chn});
    return it == st().running.end() ? 0 : it->second->produced.load(std::memory_order_relaxed);
}

} // namespace hdext::sim

using namespace hdext::sim;

namespace {
bool valid_dev(int dev) {
    return dev >= 0 && dev < 4;
}
bool valid_chn(int chn) {
    return chn >= 0 && chn < 16;
}
} // namespace

int ss_mpi_vi_set_dev_attr(int dev, const ot_vi_dev_attr* attr) {
    if (!attr)
        return ot_err(OT_ID_VI, OT_ERR_NULL_PTR);
    if (!valid_dev(dev))
        return ot_err(OT_ID_VI, OT_ERR_INVALID_DEV);
    std::lock_guard lock(st().mu);
    if (st().devs[dev].enabled)
        return ot_err(OT_ID_VI, OT_ERR_NOT_PERM);
    st().devs[dev].attr = *attr;
    st().devs[dev].attr_set = true;
    return 0;
}

int ss_mpi_vi_get_dev_attr(int dev, ot_vi_dev_attr* attr) {
    if (!attr)
        return ot_err(OT_ID_VI, OT_ERR_NULL_PTR);
    if (!valid_dev(dev))
        return ot_err(OT_ID_VI, OT_ERR_INVALID_DEV);
    std::lock_guard lock(st().mu);
    if (!st().devs[dev].attr_set)
        return ot_err(OT_ID_VI, OT_ERR_NOT_CFG);
    *attr = st().devs[dev].attr;
    return 0;
}

int ss_mpi_vi_enable_dev(int dev) {
    if (!valid_dev(dev))
        return ot_err(OT_ID_VI, OT_ERR_INVALID_DEV);
    std::lock_guard lock(st().mu);
    if (!st().devs[dev].attr_set)
        return ot_err(OT_ID_VI, OT_ERR_NOT_CFG);
    st().devs[dev].enabled = true;
    return 0;
}

int ss_mpi_vi_disable_dev(int dev) {
    if (!valid_dev(dev))
        return ot_err(OT_ID_VI, OT_ERR_INVALID_DEV);
    std::lock_guard lock(st().mu);
    for (const auto& [key, c] : st().running)
        if (key.first == dev)
            return ot_err(OT_ID_VI, OT_ERR_NOT_PERM); // channels still on
    st().devs[dev].enabled = false;
    return 0;
}

int ss_mpi_vi_set_chn_attr(int dev, int chn, const ot_vi_chn_attr* attr) {
    if (!attr)
        return ot_err(OT_ID_VI, OT_ERR_NULL_PTR);
    if (!valid_dev(dev))
        return ot_err(OT_ID_VI, OT_ERR_INVALID_DEV);
    if (!valid_chn(chn))
        return ot_err(OT_ID_VI, OT_ERR_INVALID_CHN);
    if (attr->width <= 0 || attr->height <= 0 || attr->width > 4096 || attr->height > 4096)
        return ot_err(OT_ID_VI, OT_ERR_ILLEGAL_PARAM);
    std::lock_guard lock(st().mu);
    st().chn_attr[{dev, chn}] = *attr;
    return 0;
}

int ss_mpi_vi_get_chn_attr(int dev, int chn, ot_vi_chn_attr* attr) {
    if (!attr)
        return ot_err(OT_ID_VI, OT_ERR_NULL_PTR);
    std::lock_guard lock(st().mu);
    auto it = st().chn_attr.find({dev, chn});
    if (it == st().chn_attr.end())
        return ot_err(OT_ID_VI, OT_ERR_NOT_CFG);
    *attr = it->second;
    return 0;
}

int ss_mpi_vi_enable_chn(int dev, int chn) {
    if (!valid_dev(dev))
        return ot_err(OT_ID_VI, OT_ERR_INVALID_DEV);
    if (!valid_chn(chn))
        return ot_err(OT_ID_VI, OT_ERR_INVALID_CHN);
    std::lock_guard lock(st().mu);
    if (!st().devs[dev].enabled)
        return ot_err(OT_ID_VI, OT_ERR_NOT_PERM);
    auto a = st().chn_attr.find({dev, chn});
    if (a == st().chn_attr.end())
        return ot_err(OT_ID_VI, OT_ERR_NOT_CFG);
    auto& slot = st().running[{dev, chn}];
    if (slot)
        return 0;
    slot = std::make_unique<ViChn>();
    slot->dev = dev;
    slot->chn = chn;
    slot->attr = a->second;
    ViChn* c = slot.get();
    const uint32_t mode = st().devs[dev].attr.intf_mode;
    c->worker = std::thread([c, mode] { run_channel(c, mode); });
    return 0;
}

int ss_mpi_vi_disable_chn(int dev, int chn) {
    std::unique_ptr<ViChn> c;
    {
        std::lock_guard lock(st().mu);
        auto it = st().running.find({dev, chn});
        if (it == st().running.end())
            return 0;
        c = std::move(it->second);
        st().running.erase(it);
    }
    c->stop.store(true);
    c->worker.join();
    return 0;
}

int ss_mpi_vi_get_mod_param(ot_vi_mod_param* param) {
    if (!param)
        return ot_err(OT_ID_VI, OT_ERR_NULL_PTR);
    std::lock_guard lock(st().mu);
    *param = st().mod;
    return 0;
}

int ss_mpi_vi_set_mod_param(const ot_vi_mod_param* param) {
    if (!param)
        return ot_err(OT_ID_VI, OT_ERR_NULL_PTR);
    std::lock_guard lock(st().mu);
    st().mod = *param;
    return 0;
}
