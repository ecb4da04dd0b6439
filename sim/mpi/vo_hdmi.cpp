// Simulated video output and HDMI transmitter. An enabled output channel "displays" each
// picture bound to it: it reads the capture stamp back (frames shown, gaps, glass-to-glass
// latency and its stages) and reports on the board: sim/hdmi-out/status (key=value lines) and
// sim/hdmi-out/snapshot.png, each at most twice a second, and sim/hdmi-out/timeline, a line per
// stamped picture.
#include "board/board.h"
#include "board/figures.h"
#include "mpi/mpi.h"
#include "sim/mpi/png_out.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include "sim/mpi/stamp.h"
#include "sim/mpi/timeline.h"
#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

namespace hdext::sim {
namespace {

constexpr uint64_t kReportEveryUs = 500000;
constexpr size_t kLatencyWindow = 1024;
constexpr int kSnapshotWidth = 640;

// The last kLatencyWindow figures of one measure.
struct Window {
    std::vector<uint64_t> v;
    size_t pos = 0;
    void add(uint64_t x) {
        if (v.size() < kLatencyWindow)
            v.push_back(x);
        else
            v[pos++ % kLatencyWindow] = x;
    }
};

struct VoChn {
    ot_vo_chn_attr attr{};
    bool enabled = false;
    VoStats stats;
    Window latency;
    std::array<Window, kStages> stages;
    uint32_t checksum = 0;
};

// PNG snapshots cost milliseconds: they are made on a thread of their own, at low priority,
// from a reference to the picture, so the display path never waits for one.
class SnapshotWriter {
  public:
    void offer(const AVFrame* f, std::string path) {
        AVFrame* ref = av_frame_clone(f);
        if (!ref)
            return;
        std::lock_guard lock(mu_);
        av_frame_free(&pending_);
        pending_ = ref;
        path_ = std::move(path);
        if (!started_) {
            started_ = true;
            std::thread([this] { run(); }).detach();
        }
        cv_.notify_one();
    }

  private:
    void run() {
        pthread_setname_np(pthread_self(), "vo_snapshot");
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
        for (;;) {
            AVFrame* f = nullptr;
            std::string path;
            {
                std::unique_lock lock(mu_);
                cv_.wait(lock, [this] { return pending_ != nullptr; });
                std::swap(f, pending_);
                path = path_;
            }
            const std::vector<uint8_t> png = png_snapshot(f, kSnapshotWidth);
            av_frame_free(&f);
            if (!png.empty())
                write_file_whole(path, png.data(), png.size()); // fails once the board is gone
        }
    }
    std::mutex mu_;
    std::condition_variable cv_;
    AVFrame* pending_ = nullptr;
    std::string path_;
    bool started_ = false;
};
SnapshotWriter& snapshots() {
    static auto* w = new SnapshotWriter; // lives as long as its detached thread
    return *w;
}

struct HdmiState {
    bool inited = false, open = false, started = false;
    ot_hdmi_attr attr{};
};

struct VoState {
    std::mutex mu;
    std::map<int, ot_vo_pub_attr> pub;
    std::map<int, bool> dev_on;
    std::map<int, ot_vo_video_layer_attr> layer;
    std::map<int, bool> layer_on;
    std::map<std::pair<int, int>, VoChn> chns;
    HdmiState hdmi;
    std::unique_ptr<Timeline> timeline; // on a simulated board, of its root when last enabled
    std::pair<int, int> showing{-1, -1};
    uint64_t last_status_us = 0;
    uint64_t last_snapshot_us = 0;
};
VoState& st() {
    static VoState s;
    return s;
}

int audio_rate_of_code(int code) {
    static const int kRates[] = {0,     8000,  11025, 12000, 16000, 22050,
                                 24000, 32000, 44100, 48000, 0,     96000};
    return code >= 0 && code < 12 ? kRates[code] : 0;
}

uint64_t percentile(std::vector<uint64_t> v, int pct) {
    if (v.empty())
        return 0;
    const size_t i = std::min(v.size() - 1, v.size() * static_cast<size_t>(pct) / 100);
    std::nth_element(v.begin(), v.begin() + static_cast<long>(i), v.end());
    return v[i];
}

uint32_t luma_checksum(const AVFrame* f) {
    uint32_t h = 2166136261u; // FNV-1a over a sparse grid of luma samples
    for (int r = 0; r < f->height; r += 8) {
        const uint8_t* row = f->data[0] + static_cast<long>(r) * f->linesize[0];
        for (int c = 0; c < f->width; c += 8)
            h = (h ^ row[c]) * 16777619u;
    }
    return h;
}

void refresh_latency(VoChn& c) {
    c.stats.latency_p50_us = percentile(c.latency.v, 50);
    c.stats.latency_p99_us = percentile(c.latency.v, 99);
    for (int i = 0; i < kStages; ++i) {
        c.stats.stage_p50_us[i] = percentile(c.stages[i].v, 50);
        c.stats.stage_p99_us[i] = percentile(c.stages[i].v, 99);
    }
}

void add_stages(VoChn& c, const StageStamps& t, uint64_t shown) {
    const uint64_t at[kStages + 1] = {t.captured, t.encoded, t.sent, t.received, t.decoded, shown};
    for (int i = 0; i < kStages; ++i)
        c.stages[i].add(at[i + 1] > at[i] ? at[i + 1] - at[i] : 0);
}

// Caller holds st().mu.
std::string status_text() {
    VoState& s = st();
    std::ostringstream o;
    const HdmiState& h = s.hdmi;
    int sync = OT_VO_OUT_BUTT;
    auto chn = s.chns.find(s.showing);
    if (chn != s.chns.end()) {
        auto pub = s.pub.find(s.showing.first);
        if (pub != s.pub.end())
            sync = pub->second.intf_sync;
    }
    o << "hdmi=" << (h.started ? "on" : "off") << "\n";
    o << "hdmi_video_format=" << h.attr.video_format << "\n";
    o << "hdmi_audio_rate_code=" << h.attr.sample_rate << "\n";
    o << "hdmi_audio_rate=" << audio_rate_of_code(h.attr.sample_rate) << "\n";
    o << "hdmi_bit_depth=" << h.attr.bit_depth << "\n";
    if (chn == s.chns.end() || !chn->second.enabled) {
        o << "source=none\n";
        return o.str();
    }
    VoChn& c = chn->second;
    refresh_latency(c);
    o << "timing=" << sync << "\n";
    o << "output=" << s.showing.first << "/" << s.showing.second << "\n";
    o << "source=" << (c.stats.still ? "picture" : "video") << "\n";
    o << "width=" << c.stats.width << "\n";
    o << "height=" << c.stats.height << "\n";
    o << "frames_shown=" << c.stats.shown << "\n";
    o << "frames_stamped=" << c.stats.stamped << "\n";
    o << "gaps=" << c.stats.gaps << "\n";
    o << "reordered=" << c.stats.reordered << "\n";
    o << "last_frame=" << c.stats.last_frame << "\n";
    o << "latency_p50_us=" << c.stats.latency_p50_us << "\n";
    o << "latency_p99_us=" << c.stats.latency_p99_us << "\n";
    o << "latency_now_us=" << c.stats.latency_now_us << "\n";
    for (int i = 0; i < kStages && !c.stages[i].v.empty(); ++i) {
        o << "stage_" << kStageNames[i] << "_p50_us=" << c.stats.stage_p50_us[i] << "\n";
        o << "stage_" << kStageNames[i] << "_p99_us=" << c.stats.stage_p99_us[i] << "\n";
    }
    o << "picture_checksum=" << c.checksum << "\n";
    o << board::figure_lines(board::FigureSheet::display);
    return o.str();
}

void write_status_locked() {
    write_board_file("/sim/hdmi-out/status", status_text());
}

} // namespace

void vo_sink(int layer, int chn, const Picture& pic) {
    VoState& s = st();
    const AVFrame* f = pic.frame;
    const uint64_t now = now_us();
    bool snapshot = false;
    {
        std::lock_guard lock(s.mu);
        auto it = s.chns.find({layer, chn});
        if (it == s.chns.end() || !it->second.enabled)
            return;
        VoChn& c = it->second;
        // A status picture is shown once or twice, not streamed: report it at once, as any
        // switch between outputs or between picture and video.
        const bool report_now = pic.still || c.stats.still != pic.still ||
                                s.showing != std::pair<int, int>{layer, chn};
        ++c.stats.shown;
        c.stats.width = f->width;
        c.stats.height = f->height;
        c.stats.still = pic.still;
        if (!pic.still) {
            if (auto stamp = read_stamp(f->data[0], f->linesize[0], f->width, f->height)) {
                ++c.stats.stamped;
                const int64_t n = stamp->frame_no;
                if (c.stats.last_frame >= 0) {
                    if (n > c.stats.last_frame + 1)
                        c.stats.gaps += static_cast<uint64_t>(n - c.stats.last_frame - 1);
                    else if (n <= c.stats.last_frame)
                        ++c.stats.reordered;
                }
                if (c.stats.first_frame < 0)
                    c.stats.first_frame = n;
                c.stats.last_frame = n;
                const uint64_t lat = now > stamp->time_us ? now - stamp->time_us : 0;
                c.stats.latency_max_us = std::max(c.stats.latency_max_us, lat);
                c.stats.latency_now_us = lat;
                c.latency.add(lat);
                if (s.timeline)
                    s.timeline->add(now, n, lat);
                if (pic.stages && pic.stages->captured == stamp->time_us)
                    add_stages(c, *pic.stages, now);
            }
        }
        s.showing = {layer, chn};
        if (report_now || now - s.last_status_us >= kReportEveryUs) {
            c.checksum = luma_checksum(f);
            s.last_status_us = now;
            write_status_locked();
        }
        if (now - s.last_snapshot_us >= kReportEveryUs && board::simulated()) {
            s.last_snapshot_us = now;
            snapshot = true;
        }
    }
    if (snapshot)
        snapshots().offer(f, board::path("/sim/hdmi-out/snapshot.png"));
}

VoStats vo_stats(int layer, int chn) {
    std::lock_guard lock(st().mu);
    auto it = st().chns.find({layer, chn});
    if (it == st().chns.end())
        return {};
    refresh_latency(it->second);
    return it->second.stats;
}

} // namespace hdext::sim

using namespace hdext::sim;

namespace {
int vo_err(int code) {
    return ot_err(OT_ID_VO, code);
}
int hdmi_err(int code) {
    return ot_err(OT_ID_HDMI, code);
}
bool valid_dev(int dev) {
    return dev >= 0 && dev < 35;
}
// f(state) under the platform lock, once the HDMI port exists and is open.
template <class F> int on_open_hdmi(int id, F f) {
    if (id != 0)
        return hdmi_err(OT_ERR_INVALID_DEV);
    std::lock_guard lock(st().mu);
    if (!st().hdmi.open)
        return hdmi_err(OT_ERR_NOT_READY);
    f(st().hdmi);
    return 0;
}
} // namespace

int ss_mpi_vo_set_pub_attr(int dev, const ot_vo_pub_attr* attr) {
    if (!attr)
        return vo_err(OT_ERR_NULL_PTR);
    if (!valid_dev(dev))
        return vo_err(OT_ERR_INVALID_DEV);
    std::lock_guard lock(st().mu);
    if (st().dev_on[dev])
        return vo_err(OT_ERR_NOT_PERM);
    st().pub[dev] = *attr;
    return 0;
}

int ss_mpi_vo_enable(int dev) {
    if (!valid_dev(dev))
        return vo_err(OT_ERR_INVALID_DEV);
    std::lock_guard lock(st().mu);
    if (!st().pub.count(dev))
        return vo_err(OT_ERR_NOT_CFG);
    st().dev_on[dev] = true;
    return 0;
}

int ss_mpi_vo_disable(int dev) {
    if (!valid_dev(dev))
        return vo_err(OT_ERR_INVALID_DEV);
    std::lock_guard lock(st().mu);
    st().dev_on[dev] = false;
    return 0;
}

int ss_mpi_vo_set_video_layer_attr(int layer, const ot_vo_video_layer_attr* attr) {
    if (!attr)
        return vo_err(OT_ERR_NULL_PTR);
    std::lock_guard lock(st().mu);
    st().layer[layer] = *attr;
    return 0;
}

int ss_mpi_vo_get_video_layer_attr(int layer, ot_vo_video_layer_attr* attr) {
    if (!attr)
        return vo_err(OT_ERR_NULL_PTR);
    std::lock_guard lock(st().mu);
    auto it = st().layer.find(layer);
    if (it == st().layer.end())
        return vo_err(OT_ERR_NOT_CFG);
    *attr = it->second;
    return 0;
}

int ss_mpi_vo_set_video_layer_early_display(int layer, int) {
    std::lock_guard lock(st().mu);
    return st().layer.count(layer) ? 0 : vo_err(OT_ERR_NOT_CFG);
}

int ss_mpi_vo_enable_video_layer(int layer) {
    std::lock_guard lock(st().mu);
    if (!st().layer.count(layer))
        return vo_err(OT_ERR_NOT_CFG);
    st().layer_on[layer] = true;
    return 0;
}

int ss_mpi_vo_disable_video_layer(int layer) {
    std::lock_guard lock(st().mu);
    st().layer_on[layer] = false;
    return 0;
}

int ss_mpi_vo_set_chn_attr(int layer, int chn, const ot_vo_chn_attr* attr) {
    if (!attr)
        return vo_err(OT_ERR_NULL_PTR);
    if (chn < 0 || chn >= 64)
        return vo_err(OT_ERR_INVALID_CHN);
    std::lock_guard lock(st().mu);
    st().chns[{layer, chn}].attr = *attr;
    return 0;
}

int ss_mpi_vo_set_chn_recv_threshold(int layer, int chn, uint32_t) {
    std::lock_guard lock(st().mu);
    return st().chns.count({layer, chn}) ? 0 : vo_err(OT_ERR_NOT_CFG);
}

int ss_mpi_vo_enable_chn(int layer, int chn) {
    std::lock_guard lock(st().mu);
    if (!st().layer_on[layer])
        return vo_err(OT_ERR_NOT_PERM);
    auto it = st().chns.find({layer, chn});
    if (it == st().chns.end())
        return vo_err(OT_ERR_NOT_CFG);
    VoChn& c = it->second;
    c.enabled = true;
    c.stats = VoStats{};
    st().last_status_us = st().last_snapshot_us = 0; // a new pipeline reports its first picture
    c.latency = {};
    c.stages = {};
    // A test's next board root is another; a unit's stays.
    if (hdext::board::simulated()) {
        const std::string path = hdext::board::path("/sim/hdmi-out/timeline");
        if (!st().timeline || st().timeline->path() != path)
            st().timeline = std::make_unique<Timeline>(path);
    }
    return 0;
}

int ss_mpi_vo_disable_chn(int layer, int chn) {
    std::lock_guard lock(st().mu);
    auto it = st().chns.find({layer, chn});
    if (it == st().chns.end())
        return vo_err(OT_ERR_NOT_CFG);
    it->second.enabled = false;
    if (st().timeline)
        st().timeline->flush();
    if (st().showing == std::make_pair(layer, chn))
        write_status_locked();
    return 0;
}

int ss_mpi_vo_clear_chn_buf(int layer, int chn, int) {
    std::lock_guard lock(st().mu);
    return st().chns.count({layer, chn}) ? 0 : vo_err(OT_ERR_NOT_CFG);
}

// ---- HDMI ----

int ss_mpi_hdmi_init() {
    std::lock_guard lock(st().mu);
    st().hdmi.inited = true;
    return 0;
}

int ss_mpi_hdmi_deinit() {
    std::lock_guard lock(st().mu);
    st().hdmi = HdmiState{};
    write_status_locked();
    return 0;
}

int ss_mpi_hdmi_open(int id) {
    if (id != 0)
        return hdmi_err(OT_ERR_INVALID_DEV);
    std::lock_guard lock(st().mu);
    if (!st().hdmi.inited)
        return hdmi_err(OT_ERR_NOT_READY);
    st().hdmi.open = true;
    return 0;
}

int ss_mpi_hdmi_close(int id) {
    if (id != 0)
        return hdmi_err(OT_ERR_INVALID_DEV);
    std::lock_guard lock(st().mu);
    st().hdmi.open = false;
    return 0;
}

int ss_mpi_hdmi_get_attr(int id, ot_hdmi_attr* attr) {
    if (!attr)
        return hdmi_err(OT_ERR_NULL_PTR);
    return on_open_hdmi(id, [&](HdmiState& h) { *attr = h.attr; });
}

int ss_mpi_hdmi_set_attr(int id, const ot_hdmi_attr* attr) {
    if (!attr)
        return hdmi_err(OT_ERR_NULL_PTR);
    return on_open_hdmi(id, [&](HdmiState& h) { h.attr = *attr; });
}

int ss_mpi_hdmi_start(int id) {
    return on_open_hdmi(id, [](HdmiState& h) {
        h.started = true;
        write_status_locked();
    });
}

int ss_mpi_hdmi_stop(int id) {
    if (id != 0)
        return hdmi_err(OT_ERR_INVALID_DEV);
    std::lock_guard lock(st().mu);
    st().hdmi.started = false;
    write_status_locked();
    return 0;
}
