// Simulated audio output: takes 16-bit mono frames (at 44100 Hz when resampling is on),
// converts them to the device rate and "plays" them in real time: with a full buffer of
// frames, send_frame waits. Reports on the board: sim/audio-out-<dev>.wav (the last seconds
// played) and sim/audio-out-<dev>.status (counters), at most twice a second.
#include "mpi/mpi.h"
#include "sim/mpi/aio_devices.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace hdext::sim {
namespace {

constexpr uint64_t kReportEveryUs = 500000;
constexpr int kWavSeconds = 5;

struct AoChn {
    std::mutex mu; // one sender at a time; the state below
    int dev = 0, chn = 0;
    ot_aio_attr attr{};
    int in_rate = 0;
    SwrContext* swr = nullptr;
    std::deque<uint64_t> play_ends; // when each queued frame has played out (us)
    uint64_t play_end = 0;
    std::vector<int16_t> ring; // last kWavSeconds at the device rate
    size_t ring_pos = 0;
    bool ring_full = false;
    uint64_t last_report = 0;
    AoStats stats;
    ~AoChn() { swr_free(&swr); }
};

AioDevices<AoChn>& devs() {
    static AioDevices<AoChn> d(OT_ID_AO, 9);
    return d;
}

std::shared_ptr<AoChn> find(int dev, int chn) {
    return devs().find(dev, chn);
}

void put_le(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void report(AoChn& c) {
    const size_t n = c.ring_full ? c.ring.size() : c.ring_pos;
    std::string wav;
    wav.reserve(44 + n * 2);
    const uint32_t rate = static_cast<uint32_t>(c.attr.sample_rate);
    wav += "RIFF";
    put_le(wav, static_cast<uint32_t>(36 + n * 2), 4);
    wav += "WAVEfmt ";
    put_le(wav, 16, 4);
    put_le(wav, 1, 2); // PCM
    put_le(wav, 1, 2); // mono
    put_le(wav, rate, 4);
    put_le(wav, rate * 2, 4);
    put_le(wav, 2, 2);
    put_le(wav, 16, 2);
    wav += "data";
    put_le(wav, static_cast<uint32_t>(n * 2), 4);
    auto append = [&](const int16_t* p, size_t count) {
        wav.append(reinterpret_cast<const char*>(p), count * 2);
    };
    if (c.ring_full) {
        append(c.ring.data() + c.ring_pos, c.ring.size() - c.ring_pos);
        append(c.ring.data(), c.ring_pos);
    } else {
        append(c.ring.data(), c.ring_pos);
    }
    const std::string base = "/sim/audio-out-" + std::to_string(c.dev);
    write_board_bytes(base + ".wav", wav.data(), wav.size());
    std::ostringstream o;
    o << "device_rate=" << c.stats.device_rate << "\n"
      << "input_rate=" << c.stats.input_rate << "\n"
      << "frames=" << c.stats.frames << "\n"
      << "samples_in=" << c.stats.samples_in << "\n"
      << "samples_out=" << c.stats.samples_out << "\n"
      << "underruns=" << c.stats.underruns << "\n"
      << "waits=" << c.stats.waits << "\n";
    write_board_file(base + ".status", o.str());
}

void setup_resampler(AoChn& c) {
    swr_free(&c.swr);
    if (c.in_rate == c.attr.sample_rate)
        return;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    swr_alloc_set_opts2(&c.swr, &mono, AV_SAMPLE_FMT_S16, c.attr.sample_rate, &mono,
                        AV_SAMPLE_FMT_S16, c.in_rate, 0, nullptr);
    if (c.swr && swr_init(c.swr) < 0)
        swr_free(&c.swr);
}

} // namespace

AoStats ao_stats(int dev, int chn) {
    return with_locked(find(dev, chn), AoStats{}, [](const AoChn& c) { return c.stats; });
}

} // namespace hdext::sim

using namespace hdext::sim;

namespace {
int ao_err(int code) {
    return ot_err(OT_ID_AO, code);
}
} // namespace

int ss_mpi_ao_set_pub_attr(int dev, const ot_aio_attr* attr) {
    return devs().set_pub_attr(dev, attr, [](const ot_aio_attr& a) {
        return a.sample_rate >= 8000 && a.sample_rate <= 192000 && a.point_num_per_frame != 0 &&
               a.bit_width == OT_AUDIO_BIT_WIDTH_16;
    });
}

int ss_mpi_ao_enable(int dev) {
    return devs().enable(dev);
}

int ss_mpi_ao_disable(int dev) {
    return devs().disable(dev);
}

int ss_mpi_ao_enable_chn(int dev, int chn) {
    return devs().enable_chn(dev, chn, [](AoChn& c) {
        c.in_rate = c.attr.sample_rate;
        c.ring.assign(static_cast<size_t>(c.attr.sample_rate) * kWavSeconds, 0);
        c.stats.device_rate = c.stats.input_rate = c.attr.sample_rate;
    });
}

int ss_mpi_ao_disable_chn(int dev, int chn) {
    std::shared_ptr<AoChn> c = devs().disable_chn(dev, chn);
    if (!c)
        return 0;
    std::lock_guard lock(c->mu);
    report(*c);
    return 0;
}

int ss_mpi_ao_enable_resample(int dev, int chn, int in_rate) {
    if (in_rate < 8000 || in_rate > 192000)
        return ao_err(OT_ERR_ILLEGAL_PARAM);
    return with_locked(find(dev, chn), ao_err(OT_ERR_NOT_PERM), [&](AoChn& c) {
        c.in_rate = in_rate;
        c.stats.input_rate = in_rate;
        setup_resampler(c);
        return 0;
    });
}

int ss_mpi_ao_disable_resample(int dev, int chn) {
    return with_locked(find(dev, chn), ao_err(OT_ERR_NOT_PERM), [&](AoChn& c) {
        c.in_rate = c.attr.sample_rate;
        c.stats.input_rate = c.in_rate;
        setup_resampler(c);
        return 0;
    });
}

int ss_mpi_ao_send_frame(int dev, int chn, const ot_audio_frame* frame, int timeout_ms) {
    if (!frame || !frame->virt_addr[0])
        return ao_err(OT_ERR_NULL_PTR);
    if (frame->bit_width != OT_AUDIO_BIT_WIDTH_16 || frame->len % 2 != 0)
        return ao_err(OT_ERR_ILLEGAL_PARAM);
    std::shared_ptr<AoChn> c = find(dev, chn);
    if (!c)
        return ao_err(OT_ERR_NOT_PERM);
    std::lock_guard lock(c->mu);
    const size_t depth = c->attr.frame_num > 0 ? c->attr.frame_num : 30;
    uint64_t now = now_us();
    while (!c->play_ends.empty() && c->play_ends.front() <= now)
        c->play_ends.pop_front();
    if (c->play_ends.size() >= depth) {
        const uint64_t room_at = c->play_ends[c->play_ends.size() - depth];
        if (timeout_ms >= 0 && room_at - now > static_cast<uint64_t>(timeout_ms) * 1000)
            return ao_err(OT_ERR_BUF_FULL);
        ++c->stats.waits;
        sleep_until_us(room_at);
        now = now_us();
        while (!c->play_ends.empty() && c->play_ends.front() <= now)
            c->play_ends.pop_front();
    }
    const int in_samples = static_cast<int>(frame->len / 2);
    const uint8_t* in = frame->virt_addr[0];  // samples, but at whatever address the caller has
    std::vector<int16_t> out;
    if (c->swr) {
        out.resize(static_cast<size_t>(swr_get_out_samples(c->swr, in_samples)) + 16);
        uint8_t* o = reinterpret_cast<uint8_t*>(out.data());
        const int n = swr_convert(c->swr, &o, static_cast<int>(out.size()), &in, in_samples);
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    } else {
        out.resize(static_cast<size_t>(in_samples));
        std::memcpy(out.data(), in, out.size() * 2);
    }
    if (c->play_end < now) {
        if (c->stats.frames > 0)
            ++c->stats.underruns;
        c->play_end = now;
    }
    c->play_end +=
        static_cast<uint64_t>(out.size()) * 1000000u / static_cast<uint64_t>(c->attr.sample_rate);
    c->play_ends.push_back(c->play_end);
    for (int16_t s : out) {
        c->ring[c->ring_pos++] = s;
        if (c->ring_pos == c->ring.size()) {
            c->ring_pos = 0;
            c->ring_full = true;
        }
    }
    ++c->stats.frames;
    c->stats.samples_in += static_cast<uint64_t>(in_samples);
    c->stats.samples_out += out.size();
    if (now - c->last_report >= kReportEveryUs) {
        c->last_report = now;
        report(*c);
    }
    return 0;
}
