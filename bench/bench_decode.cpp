// RX decode figures, each against a baseline measured in the same run:
//  - feeding-thread cost per frame (list to decoder call, decoder excluded, the lateness check
//    included) for a whole frame and a chained one, against a plain copy of the same bytes, and
//    as a share of the 16.7 ms frame time at 1080p60;
//  - status-picture message to picture on the HDMI output, in milliseconds, against decoding
//    the same JPEG file directly.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "bench_runtime.h"
#include "board/board.h"
#include "board/role.h"
#include "core/event.h"
#include "core/frame.h"
#include "core/mempool.h"
#include "core/task.h"
#include "decode/decode_entry.h"
#include "decode/late_policy.h"
#include "decode/video_decoder.h"
#include "decode/video_feeder.h"
#include "media/codec.h"
#include "sim/mpi/sim_control.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kFrameTime1080p60 = 1.0 / 60;
constexpr uint32_t kWholeFrame = 25000;   // 12 Mbit/s at 60 pictures per second
constexpr uint32_t kChainedFrame = 250000; // an IDR picture spread over three chunks
constexpr int kBatch = 100;

double g_copy_mean[2] = {0, 0};
double g_decode_ms = 0;

void runtime() {
    static bool done = [] {
        init_bench_runtime();
        return true;
    }();
    (void)done;
}

int size_index(uint32_t size) { return size == kWholeFrame ? 0 : 1; }

// ---- feeding thread -----------------------------------------------------------------------

void BM_BaselineCopy(benchmark::State& state) {
    const auto size = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> src(size, 0x5A), dst(size);
    double total = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        std::memcpy(dst.data(), src.data(), size);
        benchmark::DoNotOptimize(dst.data());
        const double dt = std::chrono::duration<double>(Clock::now() - t0).count();
        total += dt;
        state.SetIterationTime(dt);
    }
    g_copy_mean[size_index(size)] = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BaselineCopy)->Arg(kWholeFrame)->Arg(kChainedFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The decoder channel is never created, so the facade refuses the picture at once: what is
// timed is the feeding thread's own work (dequeue, checks, reassembly, hand-over, free).
void BM_FeedingThreadPerFrame(benchmark::State& state) {
    runtime();
    const auto size = static_cast<uint32_t>(state.range(0));
    CCodec* saved = g_pCodec;
    g_pCodec = new CCodec();
    CMediaDecoder dec(0, 0, 0, 0, 1, 1, 1, 1);
    dec.InitList(150);
    dec.m_DisplayState.store(VDEC_TYPE_LIVE);
    CVideoFeeder feeder(&dec);
    // Each batch is one IDR picture and the P pictures that follow it, stamped as they come.
    std::vector<uint8_t> idr(size, 0x5A), p(size, 0x5A);
    const uint8_t idr_start[] = {0, 0, 0, 1, 0x65}, p_start[] = {0, 0, 0, 1, 0x41};
    std::memcpy(idr.data(), idr_start, sizeof idr_start);
    std::memcpy(p.data(), p_start, sizeof p_start);
    double total = 0;
    int queued = 0;
    for (auto _ : state) {
        if (queued == 0) {
            state.PauseTiming();
            for (int i = 0; i < kBatch; ++i) {
                const std::vector<uint8_t>& bytes = i == 0 ? idr : p;
                frame_buff* f = alloc_frame(size);
                f->kind = kFrameKindVideo;
                f->pts = frame_now_us();
                frame_copy_data(f, bytes.data(), size);
                dec.DispatchFrameToList(f);
                free_frame(f);
            }
            queued = kBatch;
            state.ResumeTiming();
        }
        const auto t0 = Clock::now();
        feeder.Step();
        const double dt = std::chrono::duration<double>(Clock::now() - t0).count();
        total += dt;
        state.SetIterationTime(dt);
        --queued;
    }
    frame_queue_flush(dec.m_pList);
    delete g_pCodec;
    g_pCodec = saved;
    const double mean = total / static_cast<double>(state.iterations());
    state.counters["pct_of_1080p60_frame"] = 100.0 * mean / kFrameTime1080p60;
    if (g_copy_mean[size_index(size)] > 0) state.counters["x_plain_copy"] = mean / g_copy_mean[size_index(size)];
}
BENCHMARK(BM_FeedingThreadPerFrame)->Arg(kWholeFrame)->Arg(kChainedFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);

// ---- status picture -----------------------------------------------------------------------

std::string assets_dir() {
    const char* env = std::getenv("HDEXT_SOURCE_DIR");
    const fs::path src = env && *env ? fs::path(env) : fs::path(__FILE__).parent_path().parent_path();
    return (src / "assets" / "res").string();
}

std::vector<uint8_t> read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

void BM_BaselineJpegDecode(benchmark::State& state) {
    std::vector<uint8_t> data = read_all(assets_dir() + "/RX_NoSignal.jpg");
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->thread_count = 1;
    avcodec_open2(ctx, codec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    double total = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        pkt->data = data.data();
        pkt->size = static_cast<int>(data.size());
        avcodec_send_packet(ctx, pkt);
        avcodec_receive_frame(ctx, frame);
        av_frame_unref(frame);
        const double dt = std::chrono::duration<double>(Clock::now() - t0).count();
        total += dt;
        state.SetIterationTime(dt);
    }
    g_decode_ms = 1000.0 * total / static_cast<double>(state.iterations());
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
}
BENCHMARK(BM_BaselineJpegDecode)->UseManualTime()->Unit(benchmark::kMillisecond);

// A simulated RX showing its start-up picture; each iteration asks for another picture and
// waits until the HDMI output has shown it.
void BM_StatusPictureMessageToOutput(benchmark::State& state) {
    runtime();
    char tmpl[] = "/tmp/hdext-bench-decode-XXXXXX";
    const std::string root = mkdtemp(tmpl);
    fs::create_directories(root + "/home/res");
    fs::create_directories(root + "/sim");
    for (const auto& e : fs::directory_iterator(assets_dir())) fs::copy_file(e.path(), root + "/home/res/" + e.path().filename().string());
    setenv("HDEXT_BOARD_ROOT", root.c_str(), 1);
    hdext::board::reload_root();
    g_EquipmentModel.store(EQUIPMENT_MODEL_RX);
    INTF_CodecInit();
    Quendor_Init_deVideo_Task();
    auto wait = [](uint32_t handled) {
        while (g_pDecoder->m_MsgsHandled.load(std::memory_order_acquire) <= handled || hdext::sim::vo_stats(1, 1).shown < 1)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    };
    wait(0);
    double total = 0;
    int type = VDEC_TYPE_NO_SIGNAL;
    for (auto _ : state) {
        type = type == VDEC_TYPE_NO_SIGNAL ? VDEC_TYPE_SEARCHING : VDEC_TYPE_NO_SIGNAL;
        const uint32_t handled = g_pDecoder->m_MsgsHandled.load(std::memory_order_acquire);
        const auto t0 = Clock::now();
        notify_decoding_task(0x4000, kMsgDecodeShowPicture, reinterpret_cast<char*>(&type), sizeof(type));
        wait(handled);
        const double dt = std::chrono::duration<double>(Clock::now() - t0).count();
        total += dt;
        state.SetIterationTime(dt);
        // Both sends shown before the next request, so each iteration starts from rest.
        while (hdext::sim::vo_stats(1, 1).shown < 2) std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const double mean_ms = 1000.0 * total / static_cast<double>(state.iterations());
    state.counters["ms"] = mean_ms;
    if (g_decode_ms > 0) state.counters["x_jpeg_decode"] = mean_ms / g_decode_ms;
    g_pDecoder->TearDownPicture();
    INTF_VDEC_Stop(1);
    INTF_HDMI_Stop(0);
    unsetenv("HDEXT_BOARD_ROOT");
    hdext::board::reload_root();
    fs::remove_all(root);
}
BENCHMARK(BM_StatusPictureMessageToOutput)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

} // namespace

BENCHMARK_MAIN();
