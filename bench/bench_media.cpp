// Media benchmarks, each reported against its baseline from the same run:
//  - software encoder and decoder at 1920x1080: pictures a second, as a ratio to 60 fps;
//  - G.711 A-law encode and decode: throughput as a ratio to FFmpeg's pcm_alaw codec;
//  - the output's stamp read per picture: microseconds, as a share of a 60 Hz frame time;
//  - the output's whole work per picture shown (stamp, counters, status file, timeline), and the
//    timeline's line alone (its batched writes included): as ratios to the stamp read of the
//    same run.
#include "board/board.h"
#include "media/g711.h"
#include "mpi/mpi.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include "sim/mpi/stamp.h"
#include "sim/mpi/timeline.h"
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

namespace {

using Clock = std::chrono::steady_clock;

// Processor time of the whole process (the codec threads included), in milliseconds.
double process_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Real-time figures on a shared host: wall-clock rate and processor time per picture.
void codec_counters(benchmark::State& state, double pictures, double cpu_ms) {
    state.counters["fps"] = benchmark::Counter(pictures, benchmark::Counter::kIsRate);
    state.counters["x_realtime_60fps"] =
        benchmark::Counter(pictures / 60.0, benchmark::Counter::kIsRate);
    const double per = cpu_ms / pictures;
    state.counters["cpu_ms_per_picture"] = per;
    state.counters["x_realtime_one_core"] = (1000.0 / 60.0) / per;
}
constexpr int kW = 1920, kH = 1080;
constexpr double kFrameUs = 1e6 / 60;

AVFrame* test_picture(uint32_t k) {
    AVFrame* f = av_frame_alloc();
    f->format = AV_PIX_FMT_NV12;
    f->width = kW;
    f->height = kH;
    av_frame_get_buffer(f, 32);
    hdext::sim::draw_test_picture(f->data[0], f->linesize[0], f->data[1], f->linesize[1], kW, kH,
                                  k);
    hdext::sim::write_stamp(f->data[0], f->linesize[0], kW, kH,
                            hdext::sim::Stamp{k, hdext::sim::now_us()});
    f->pts = static_cast<int64_t>(hdext::sim::now_us());
    return f;
}

void start_encoder(int chn) {
    ot_venc_chn_attr a{};
    a.payload = OT_PT_H264;
    a.max_width = 3840;
    a.max_height = 2160;
    a.width = kW;
    a.height = kH;
    a.rc = {1, 120, 1, 60, 60, 6 * 1024};
    ss_mpi_venc_create_chn(chn, &a);
    const ot_venc_start_param sp{-1};
    ss_mpi_venc_start_chn(chn, &sp);
}

// Encodes one picture through the software encoder and returns its bytes.
std::vector<uint8_t> encode_one(int chn, AVFrame* f) {
    hdext::sim::venc_sink(0, chn, hdext::sim::Picture{f, false});
    std::vector<ot_venc_pack> packs(64);
    ot_venc_stream s{packs.data(), 64, 0};
    std::vector<uint8_t> out;
    if (ss_mpi_venc_get_stream(chn, &s, -1) != 0)
        return out;
    for (uint32_t i = 0; i < s.pack_cnt; ++i)
        out.insert(out.end(), s.pack[i].addr, s.pack[i].addr + s.pack[i].len);
    ss_mpi_venc_release_stream(chn, &s);
    return out;
}

void BM_SoftwareEncoder1080p(benchmark::State& state) {
    start_encoder(1);
    std::vector<AVFrame*> pics;
    for (uint32_t k = 0; k < 60; ++k)
        pics.push_back(test_picture(k));
    size_t i = 0;
    const double cpu0 = process_cpu_ms();
    for (auto _ : state)
        benchmark::DoNotOptimize(encode_one(1, pics[i++ % pics.size()]).size());
    codec_counters(state, static_cast<double>(state.iterations()), process_cpu_ms() - cpu0);
    ss_mpi_venc_stop_chn(1);
    ss_mpi_venc_destroy_chn(1);
    for (AVFrame*& f : pics)
        av_frame_free(&f);
}
BENCHMARK(BM_SoftwareEncoder1080p)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(3.0);

void BM_SoftwareDecoder1080p(benchmark::State& state) {
    start_encoder(2);
    std::vector<std::vector<uint8_t>> streams;
    for (uint32_t k = 0; k < 120; ++k) {
        AVFrame* f = test_picture(k);
        streams.push_back(encode_one(2, f));
        av_frame_free(&f);
    }
    ss_mpi_venc_stop_chn(2);
    ss_mpi_venc_destroy_chn(2);
    ot_vdec_chn_attr da{};
    da.payload = OT_PT_H264;
    da.send_mode = 1;
    da.width = kW;
    da.height = kH;
    da.stream_buf_size = kW * kH;
    da.frame_buf_size = 3146496;
    ss_mpi_vdec_create_chn(3, &da);
    ss_mpi_vdec_start_recv_stream(3);
    uint64_t sent = 0;
    const double cpu0 = process_cpu_ms();
    for (auto _ : state) {
        // One GOP from its key picture, decoded to the end.
        for (auto& s : streams) {
            ot_vdec_stream vs{1, 0, 1, 0, s.data(), static_cast<uint32_t>(s.size())};
            ss_mpi_vdec_send_stream(3, &vs, -1);
            ++sent;
        }
        while (hdext::sim::vdec_decoded(3) < sent)
            std::this_thread::yield();
    }
    codec_counters(state, static_cast<double>(sent), process_cpu_ms() - cpu0);
    ss_mpi_vdec_stop_recv_stream(3);
    ss_mpi_vdec_destroy_chn(3);
}
BENCHMARK(BM_SoftwareDecoder1080p)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(3.0);

// FFmpeg's pcm_alaw over a whole buffer, one frame or packet per call.
struct FfAlaw {
    AVCodecContext* enc;
    AVCodecContext* dec;
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    FfAlaw() {
        enc = open(avcodec_find_encoder(AV_CODEC_ID_PCM_ALAW));
        dec = open(avcodec_find_decoder(AV_CODEC_ID_PCM_ALAW));
    }
    ~FfAlaw() {
        avcodec_free_context(&enc);
        avcodec_free_context(&dec);
        av_frame_free(&frame);
        av_packet_free(&pkt);
    }
    static AVCodecContext* open(const AVCodec* c) {
        AVCodecContext* ctx = avcodec_alloc_context3(c);
        ctx->sample_rate = 44100;
        ctx->ch_layout = AV_CHANNEL_LAYOUT_MONO;
        ctx->sample_fmt = AV_SAMPLE_FMT_S16;
        avcodec_open2(ctx, c, nullptr);
        return ctx;
    }
    void encode(const std::vector<int16_t>& pcm) {
        frame->nb_samples = static_cast<int>(pcm.size());
        frame->format = AV_SAMPLE_FMT_S16;
        av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
        av_frame_get_buffer(frame, 0);
        std::memcpy(frame->data[0], pcm.data(), pcm.size() * 2);
        avcodec_send_frame(enc, frame);
        while (avcodec_receive_packet(enc, pkt) == 0)
            av_packet_unref(pkt);
        av_frame_unref(frame);
    }
    void decode(std::vector<uint8_t>& codes) {
        pkt->data = codes.data();
        pkt->size = static_cast<int>(codes.size());
        avcodec_send_packet(dec, pkt);
        while (avcodec_receive_frame(dec, frame) == 0)
            av_frame_unref(frame);
        pkt->data = nullptr;
        pkt->size = 0;
    }
};

std::vector<int16_t> speech_like(size_t n) {
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<int16_t>(12000 * std::sin(i * 0.07) + 3000 * std::sin(i * 1.3));
    return v;
}

// One A-law frame of the system (1024 samples) at a time, as the audio tasks convert them.
constexpr size_t kAudioFrame = 1024;

// Times 64 passes of ours and of FFmpeg's over the same audio frame, interleaved per iteration
// so both see the same machine load; reports throughputs and their ratio.
template <class Ours, class Theirs>
void compare_with_ffmpeg(benchmark::State& state, Ours ours_pass, Theirs ffmpeg_pass) {
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int r = 0; r < 64; ++r) {
            ours_pass();
            benchmark::ClobberMemory();
        }
        const auto t1 = Clock::now();
        for (int r = 0; r < 64; ++r)
            ffmpeg_pass();
        const auto t2 = Clock::now();
        ours += std::chrono::duration<double>(t1 - t0).count();
        theirs += std::chrono::duration<double>(t2 - t1).count();
    }
    const double samples = static_cast<double>(state.iterations()) * 64 * kAudioFrame;
    state.counters["ours_Msamples_s"] = samples / ours / 1e6;
    state.counters["ffmpeg_Msamples_s"] = samples / theirs / 1e6;
    state.counters["ratio_vs_ffmpeg"] = theirs / ours;
}

void BM_G711ALawEncodeVsFfmpeg(benchmark::State& state) {
    const auto pcm = speech_like(kAudioFrame);
    std::vector<uint8_t> out(kAudioFrame);
    FfAlaw ff;
    compare_with_ffmpeg(
        state, [&] { G711ALawEncode(out.data(), pcm.data(), kAudioFrame * 2); },
        [&] { ff.encode(pcm); });
}
BENCHMARK(BM_G711ALawEncodeVsFfmpeg)->MinTime(1.0);

void BM_G711ALawDecodeVsFfmpeg(benchmark::State& state) {
    const auto pcm = speech_like(kAudioFrame);
    std::vector<uint8_t> codes(kAudioFrame);
    G711ALawEncode(codes.data(), pcm.data(), kAudioFrame * 2);
    std::vector<int16_t> out(kAudioFrame);
    FfAlaw ff;
    compare_with_ffmpeg(
        state,
        [&] { G711ALawDecode(reinterpret_cast<short*>(out.data()), codes.data(), kAudioFrame); },
        [&] { ff.decode(codes); });
}
BENCHMARK(BM_G711ALawDecodeVsFfmpeg)->MinTime(1.0);

void BM_OutputStampRead1080p(benchmark::State& state) {
    AVFrame* f = test_picture(42);
    double total = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        auto s = hdext::sim::read_stamp(f->data[0], f->linesize[0], kW, kH);
        benchmark::DoNotOptimize(s);
        total += std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    }
    const double us = total / static_cast<double>(state.iterations());
    state.counters["us_per_picture"] = us;
    state.counters["share_of_frame_time"] = us / kFrameUs;
    av_frame_free(&f);
}
BENCHMARK(BM_OutputStampRead1080p);

// One stamped 1080p picture shown on an enabled output of a simulated board, as the decoder's
// output thread hands it over, against the stamp read alone (interleaved, same load).
void BM_OutputPicture1080p(benchmark::State& state) {
    char root[] = "/tmp/hdext-bench-vo-XXXXXX";
    if (!mkdtemp(root))
        return state.SkipWithError("no temporary board root");
    setenv("HDEXT_BOARD_ROOT", root, 1);
    hdext::board::reload_root();
    const ot_vo_pub_attr pub{0, 0, 23};
    ot_vo_video_layer_attr layer{};
    const ot_vo_chn_attr chn{};
    ss_mpi_vo_set_pub_attr(0, &pub);
    ss_mpi_vo_enable(0);
    ss_mpi_vo_set_video_layer_attr(0, &layer);
    ss_mpi_vo_enable_video_layer(0);
    ss_mpi_vo_set_chn_attr(0, 0, &chn);
    ss_mpi_vo_enable_chn(0, 0);
    AVFrame* f = test_picture(0);
    double shown_us = 0, stamp_us = 0;
    uint32_t n = 0;
    for (auto _ : state) {
        hdext::sim::write_stamp(f->data[0], f->linesize[0], kW, kH, hdext::sim::Stamp{++n, hdext::sim::now_us()});
        const auto t0 = Clock::now();
        hdext::sim::vo_sink(0, 0, hdext::sim::Picture{f, false});
        const auto t1 = Clock::now();
        auto s = hdext::sim::read_stamp(f->data[0], f->linesize[0], kW, kH);
        benchmark::DoNotOptimize(s);
        const auto t2 = Clock::now();
        shown_us += std::chrono::duration<double, std::micro>(t1 - t0).count();
        stamp_us += std::chrono::duration<double, std::micro>(t2 - t1).count();
    }
    ss_mpi_vo_disable_chn(0, 0);
    av_frame_free(&f);
    state.counters["us_per_picture"] = shown_us / static_cast<double>(state.iterations());
    state.counters["ratio_to_stamp_read"] = shown_us / stamp_us;
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the snapshot writer's last picture
    unsetenv("HDEXT_BOARD_ROOT");
    hdext::board::reload_root();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}
BENCHMARK(BM_OutputPicture1080p)->MinTime(2.0);

// The timeline's part of that: a line per picture at 60 per second of shown time, so its
// batches reach the file as often as on a unit.
void BM_OutputTimelineLine(benchmark::State& state) {
    const std::string path = "/tmp/hdext-bench-timeline-" + std::to_string(getpid());
    AVFrame* f = test_picture(0);
    double line_us = 0, stamp_us = 0;
    {
        hdext::sim::Timeline t(path);
        uint64_t shown = hdext::sim::now_us();
        int64_t n = 0;
        for (auto _ : state) {
            const auto t0 = Clock::now();
            t.add(shown += 16667, ++n, 11000);
            const auto t1 = Clock::now();
            auto s = hdext::sim::read_stamp(f->data[0], f->linesize[0], kW, kH);
            benchmark::DoNotOptimize(s);
            line_us += std::chrono::duration<double, std::micro>(t1 - t0).count();
            stamp_us += std::chrono::duration<double, std::micro>(Clock::now() - t1).count();
        }
    }
    av_frame_free(&f);
    std::remove(path.c_str());
    std::remove((path + ".1").c_str());
    state.counters["us_per_picture"] = line_us / static_cast<double>(state.iterations());
    state.counters["ratio_to_stamp_read"] = line_us / stamp_us;
}
BENCHMARK(BM_OutputTimelineLine)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
