// Simulated audio input: 16-bit mono PCM at the device's rate, a 1 kHz tone while the source
// carries audio and silence otherwise, optionally resampled to the rate asked for. Frames are
// paced by CLOCK_MONOTONIC; the channel's descriptor (a timer) is readable while a captured
// frame waits.
#include "mpi/mpi.h"
#include "sim/mpi/aio_devices.h"
#include "sim/mpi/sim_core.h"
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

namespace hdext::sim {
namespace {

constexpr double kToneHz = 1000.0;
constexpr double kToneAmplitude = 8000.0;
constexpr uint64_t kSourceRecheckUs = 200000;

struct AiChn {
    std::mutex mu;
    int dev = 0, chn = 0;
    ot_aio_attr attr{};
    int out_rate = 0; // 0 = no resampling
    uint32_t out_points = 0;
    uint64_t t0 = 0; // enable time
    uint64_t period_ns = 0;
    uint64_t next = 0; // index of the next frame to hand out
    double phase = 0;
    int tfd = -1;
    std::vector<int16_t> buf[2];
    int cur = 0;
    uint64_t last_check = 0;
    bool audio = false;
    ot_ai_chn_param param{};
};

AioDevices<AiChn>& devs() {
    static AioDevices<AiChn> d(OT_ID_AI, 20);
    return d;
}

std::shared_ptr<AiChn> find(int dev, int chn) {
    return devs().find(dev, chn);
}

// Device 1 takes the SDI receiver's audio, the others the HDMI receiver's.
bool source_has_audio(int dev) {
    const std::string line = read_board_line(dev == 1 ? "/sim/sdi-in" : "/sim/hdmi-in");
    if (line.empty() || line.rfind("none", 0) == 0)
        return false;
    if (dev == 1)
        return true;
    const size_t a = line.find("audio=");
    return a != std::string::npos && line.compare(a + 6, 4, "none") != 0;
}

uint64_t frame_ready_ns(const AiChn& c, uint64_t k) {
    return c.t0 * 1000 + (k + 1) * c.period_ns;
}

// Arms the descriptor for frame `next` (at once when it is already due).
void arm(AiChn& c) {
    itimerspec its{};
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t now_ns =
        static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
    uint64_t when = frame_ready_ns(c, c.next);
    if (when <= now_ns)
        when = now_ns + 1;
    its.it_value.tv_sec = static_cast<time_t>(when / 1000000000u);
    its.it_value.tv_nsec = static_cast<long>(when % 1000000000u);
    uint64_t drain = 0;
    (void)!read(c.tfd, &drain, sizeof(drain));
    timerfd_settime(c.tfd, TFD_TIMER_ABSTIME, &its, nullptr);
}

} // namespace
} // namespace hdext::sim

using namespace hdext::sim;

namespace {
int ai_err(int code) {
    return ot_err(OT_ID_AI, code);
}
bool valid_rate(int r) {
    return r >= 8000 && r <= 192000;
}
} // namespace

int ss_mpi_ai_set_pub_attr(int dev, const ot_aio_attr* attr) {
    return devs().set_pub_attr(dev, attr, [](const ot_aio_attr& a) {
        return valid_rate(a.sample_rate) && a.point_num_per_frame != 0 &&
               a.point_num_per_frame <= 4096 && a.bit_width == OT_AUDIO_BIT_WIDTH_16;
    });
}

int ss_mpi_ai_enable(int dev) {
    return devs().enable(dev);
}

int ss_mpi_ai_disable(int dev) {
    return devs().disable(dev);
}

int ss_mpi_ai_enable_chn(int dev, int chn) {
    return devs().enable_chn(dev, chn, [](AiChn& c) {
        c.out_points = c.attr.point_num_per_frame;
        c.period_ns = static_cast<uint64_t>(c.attr.point_num_per_frame) * 1000000000u /
                      static_cast<uint64_t>(c.attr.sample_rate);
        c.t0 = now_us();
        c.tfd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        arm(c);
    });
}

int ss_mpi_ai_disable_chn(int dev, int chn) {
    std::shared_ptr<AiChn> c = devs().disable_chn(dev, chn);
    if (!c)
        return 0;
    std::lock_guard lock(c->mu);
    if (c->tfd >= 0)
        close(c->tfd);
    c->tfd = -1;
    return 0;
}

int ss_mpi_ai_enable_resample(int dev, int chn, int out_rate) {
    if (!valid_rate(out_rate))
        return ai_err(OT_ERR_ILLEGAL_PARAM);
    return with_locked(find(dev, chn), ai_err(OT_ERR_NOT_PERM), [&](AiChn& c) {
        c.out_rate = out_rate;
        c.out_points = static_cast<uint32_t>(std::lround(
            static_cast<double>(c.attr.point_num_per_frame) * out_rate / c.attr.sample_rate));
        return 0;
    });
}

int ss_mpi_ai_disable_resample(int dev, int chn) {
    return with_locked(find(dev, chn), ai_err(OT_ERR_NOT_PERM), [&](AiChn& c) {
        c.out_rate = 0;
        c.out_points = c.attr.point_num_per_frame;
        return 0;
    });
}

int ss_mpi_ai_set_record_vqe_attr(int dev, int chn, const ot_ai_record_vqe_cfg* cfg) {
    if (!cfg)
        return ai_err(OT_ERR_NULL_PTR);
    return find(dev, chn) ? 0 : ai_err(OT_ERR_NOT_PERM);
}
int ss_mpi_ai_set_talk_vqe_attr(int dev, int chn, int, int, const ot_ai_talk_vqe_cfg* cfg) {
    if (!cfg)
        return ai_err(OT_ERR_NULL_PTR);
    return find(dev, chn) ? 0 : ai_err(OT_ERR_NOT_PERM);
}
int ss_mpi_ai_enable_vqe(int dev, int chn) {
    return find(dev, chn) ? 0 : ai_err(OT_ERR_NOT_PERM);
}
int ss_mpi_ai_disable_vqe(int dev, int chn) {
    return find(dev, chn) ? 0 : ai_err(OT_ERR_NOT_PERM);
}

int ss_mpi_ai_get_chn_param(int dev, int chn, ot_ai_chn_param* param) {
    if (!param)
        return ai_err(OT_ERR_NULL_PTR);
    return with_locked(find(dev, chn), ai_err(OT_ERR_NOT_PERM), [&](AiChn& c) {
        *param = c.param;
        return 0;
    });
}

int ss_mpi_ai_set_chn_param(int dev, int chn, const ot_ai_chn_param* param) {
    if (!param)
        return ai_err(OT_ERR_NULL_PTR);
    return with_locked(find(dev, chn), ai_err(OT_ERR_NOT_PERM), [&](AiChn& c) {
        c.param = *param;
        return 0;
    });
}

int ss_mpi_ai_get_fd(int dev, int chn) {
    return with_locked(find(dev, chn), -1, [&](AiChn& c) { return c.tfd; });
}

int ss_mpi_ai_get_frame(int dev, int chn, ot_audio_frame* frame, ot_aec_frame* aec,
                        int timeout_ms) {
    if (!frame)
        return ai_err(OT_ERR_NULL_PTR);
    std::shared_ptr<AiChn> c = find(dev, chn);
    if (!c)
        return ai_err(OT_ERR_NOT_PERM);
    std::lock_guard lock(c->mu);
    uint64_t now = now_us();
    // Like the device, keep at most a buffer's worth of frames for a slow reader.
    const uint64_t depth = c->attr.frame_num > 0 ? c->attr.frame_num : 30;
    const uint64_t due = (now - c->t0) * 1000 / c->period_ns;
    if (due > c->next + depth)
        c->next = due - depth;
    const uint64_t ready_us = frame_ready_ns(*c, c->next) / 1000;
    if (ready_us > now) {
        if (timeout_ms >= 0 && ready_us - now > static_cast<uint64_t>(timeout_ms) * 1000)
            return ai_err(OT_ERR_BUF_EMPTY);
        sleep_until_us(ready_us);
    }
    if (ready_us - c->last_check >= kSourceRecheckUs || c->last_check == 0) {
        c->audio = source_has_audio(c->dev);
        c->last_check = ready_us;
    }
    std::vector<int16_t>& b = c->buf[c->cur];
    c->cur ^= 1;
    b.assign(c->out_points, 0);
    const int rate = c->out_rate ? c->out_rate : c->attr.sample_rate;
    const double step = 2.0 * M_PI * kToneHz / rate;
    for (auto& s : b) {
        if (c->audio)
            s = static_cast<int16_t>(std::lround(kToneAmplitude * std::sin(c->phase)));
        c->phase += step;
    }
    c->phase = std::fmod(c->phase, 2.0 * M_PI);
    frame->bit_width = OT_AUDIO_BIT_WIDTH_16;
    frame->snd_mode = 0;
    frame->virt_addr[0] = reinterpret_cast<uint8_t*>(b.data());
    frame->virt_addr[1] = nullptr;
    frame->time_stamp = ready_us;
    frame->seq = static_cast<uint32_t>(c->next);
    frame->len = static_cast<uint32_t>(b.size() * sizeof(int16_t));
    if (aec)
        *aec = ot_aec_frame{};
    ++c->next;
    arm(*c);
    return 0;
}

int ss_mpi_ai_release_frame(int dev, int chn, const ot_audio_frame* frame, const ot_aec_frame*) {
    if (!frame)
        return ai_err(OT_ERR_NULL_PTR);
    return find(dev, chn) ? 0 : ai_err(OT_ERR_NOT_PERM);
}

// ---- audio encoder and decoder channels: present, never fed on this platform ----

namespace {
struct CodecChns {
    std::mutex mu;
    std::map<int, ot_aenc_chn_attr> aenc;
    std::map<int, int> aenc_fd;
    std::map<int, ot_adec_chn_attr> adec;
};
CodecChns& codecs() {
    static CodecChns c;
    return c;
}

template <class Attr>
int create_chn(std::map<int, Attr>& table, int mod, int max_chn, int chn, const Attr* attr) {
    if (!attr)
        return ot_err(mod, OT_ERR_NULL_PTR);
    if (chn < 0 || chn >= max_chn)
        return ot_err(mod, OT_ERR_INVALID_CHN);
    std::lock_guard lock(codecs().mu);
    if (table.count(chn))
        return ot_err(mod, OT_ERR_EXIST);
    table[chn] = *attr;
    return 0;
}
} // namespace

int ss_mpi_aenc_create_chn(int chn, const ot_aenc_chn_attr* attr) {
    return create_chn(codecs().aenc, OT_ID_AENC, 49, chn, attr);
}

int ss_mpi_aenc_destroy_chn(int chn) {
    std::lock_guard lock(codecs().mu);
    auto fd = codecs().aenc_fd.find(chn);
    if (fd != codecs().aenc_fd.end()) {
        close(fd->second);
        codecs().aenc_fd.erase(fd);
    }
    return codecs().aenc.erase(chn) ? 0 : ot_err(OT_ID_AENC, OT_ERR_UNEXIST);
}

int ss_mpi_aenc_get_fd(int chn) {
    std::lock_guard lock(codecs().mu);
    if (!codecs().aenc.count(chn))
        return -1;
    auto& fd = codecs().aenc_fd[chn];
    if (fd <= 0)
        fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC); // never armed
    return fd;
}

int ss_mpi_aenc_get_stream(int chn, ot_audio_stream* stream, int) {
    if (!stream)
        return ot_err(OT_ID_AENC, OT_ERR_NULL_PTR);
    std::lock_guard lock(codecs().mu);
    return codecs().aenc.count(chn) ? ot_err(OT_ID_AENC, OT_ERR_BUF_EMPTY)
                                    : ot_err(OT_ID_AENC, OT_ERR_UNEXIST);
}

int ss_mpi_aenc_release_stream(int chn, const ot_audio_stream*) {
    std::lock_guard lock(codecs().mu);
    return codecs().aenc.count(chn) ? ot_err(OT_ID_AENC, OT_ERR_ILLEGAL_PARAM)
                                    : ot_err(OT_ID_AENC, OT_ERR_UNEXIST);
}

int ss_mpi_adec_create_chn(int chn, const ot_adec_chn_attr* attr) {
    return create_chn(codecs().adec, OT_ID_ADEC, 32, chn, attr);
}

int ss_mpi_adec_destroy_chn(int chn) {
    std::lock_guard lock(codecs().mu);
    return codecs().adec.erase(chn) ? 0 : ot_err(OT_ID_ADEC, OT_ERR_UNEXIST);
}

int ss_mpi_adec_send_stream(int chn, const ot_audio_stream* stream, int) {
    if (!stream)
        return ot_err(OT_ID_ADEC, OT_ERR_NULL_PTR);
    std::lock_guard lock(codecs().mu);
    return codecs().adec.count(chn) ? 0 : ot_err(OT_ID_ADEC, OT_ERR_UNEXIST);
}
