// A receiver joining a streaming TX, with the whole media path on the software platform: the
// TX captures 1080p60 and encodes it with the platform's H.264 encoder (12 Mbit/s, groups of
// 2 s), the program's sender streams on loopback, and a receiver rebuilds the stream and feeds
// the platform's decoder and output through the program's feeding loop.
//  - stream connected to first picture shown, p50/p99 over 50 joins at random points of the
//    group: with an IDR asked for on each join, against the baseline of waiting for the
//    group's own IDR (the same run with the requests held back);
//  - glass-to-glass latency and its stages (encode, send, transfer, decode, show) p50/p99 for
//    one receiver over 10 s, as the output reports them.
// It runs with a processor of its own like a simulated unit (sim/devices/processor.h), so start
// it under `setsid` on a shared host: setsid build/release/bench/bench_join
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "core/dump_print.h"
#include "decode/video_feeder.h"
#include "media/codec.h"
#include "periph/input_state.h"
#include "settings/bitrate.h"
#include "sim/devices/processor.h"
#include "sim/mpi/sim_control.h"
#include "stream_rig.h"

namespace {

using namespace hdext::bench;
using Clock = std::chrono::steady_clock;

constexpr int kJoins = 50;
constexpr int kVdec = 0, kVoDev = 0, kVoChn = 0;

std::atomic<bool> g_feeding{false};

// Capture and encoder of the TX, and the receiver's decoder and output, once for the program.
void start_media() {
    std::filesystem::create_directories(g_root + "/sim");
    std::ofstream(g_root + "/sim/hdmi-in") << "1920x1080p60 audio=48000\n";
    INTF_CodecInit();
    INTF_VI_Create(g_pTaskVENC->GetHdmiDev(), g_pTaskVENC->GetHdmiChn());
    INTF_VENC_Create(g_pTaskVENC->GetVenchn());
    INTF_VENC_SetEncodeType(g_pTaskVENC->GetVenchn(), 96);
    MaxW_6911_ATT = 1920;
    MaxH_6911_ATT = 1080;
    FrameRate_6911 = 60;
    VO_SYNC_6911_ATT = 23;
    SCAN_MODE_6911 = 1;
    BitRate = 12;
    Quendor_Start_enVideo_Task(INPUTER_HDMI);

    INTF_VO_Create(kVoDev, kVoChn, 0);
    INTF_VDEC_Create(kVdec);
    INTF_SetResolution(23, 24, 60, 1920, 1080);
    INTF_VO_Start(kVoDev, kVoChn);
    INTF_VDEC_SetDecodeType(kVdec, 96, 1);
    INTF_VDEC_Start(kVdec);
    INTF_SYS_BIND(OT_ID_VDEC, 0, kVdec, OT_ID_VO, kVoDev, kVoChn);
    std::thread([] {
        CVideoFeeder feeder(g_pDecoder);
        for (;;) {
            if (!g_feeding) {
                std::this_thread::sleep_for(1ms);
                continue;
            }
            feeder.Step();
            // Between joins no frame comes and the feeder gives live video up; the decode task,
            // which would bring it back with the next frame, is not here.
            g_pDecoder->m_DisplayState.store(VDEC_TYPE_LIVE);
        }
    }).detach();
}

// A decoder as a receiver has it when it joins: no parameter sets, no pictures.
void fresh_decoder() {
    g_feeding = false;
    std::this_thread::sleep_for(5ms); // a Step in progress ends
    frame_queue_flush(g_pDecoder->m_pList);
    INTF_SYS_UNBIND(OT_ID_VDEC, 0, kVdec, OT_ID_VO, kVoDev, kVoChn);
    INTF_VDEC_Stop(kVdec);
    INTF_VDEC_Start(kVdec);
    INTF_SYS_BIND(OT_ID_VDEC, 0, kVdec, OT_ID_VO, kVoDev, kVoChn);
    g_feeding = true;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

// Arg 1: an IDR on each join (the program); 0: the encoder's IDR requests held back beyond the
// run, so a joiner waits for the group's IDR, as before.
void BM_JoinToPicture(benchmark::State& state) {
    const bool idr = state.range(0) == 1;
    g_pTaskVENC->SetTiming(hdext::kVencIdleSleep, hdext::kVencFdWait,
                           idr ? hdext::kVencIdrGap : std::chrono::hours(24));
    // An IDR now (or one still asked for): the gap starts before the first join.
    g_pTaskVENC->RequestIdr();
    std::this_thread::sleep_for(hdext::kVencIdrGap + 200ms);
    std::mt19937 rng(17);
    // Pauses spread over a whole 2 s group past the IDR gap: joins land anywhere in the group.
    std::uniform_int_distribution<int> pause_ms(1000, 3000);
    std::vector<double> ms;
    int missed = 0;
    for (auto _ : state) {
        for (int i = 0; i < kJoins; ++i) {
            fresh_decoder();
            {
                FakeRx rx(kRxAddr[0], false);
                const uint64_t give_up = rx.connected_us + 5000000;
                while (hdext::sim::vdec_decoded(kVdec) == 0 && now_us() < give_up)
                    std::this_thread::sleep_for(500us);
                const uint64_t shown = now_us();
                if (hdext::sim::vdec_decoded(kVdec) == 0) ++missed;
                else ms.push_back(static_cast<double>(shown - rx.connected_us) / 1000.0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(rng)));
        }
        state.SetIterationTime(1);
    }
    state.counters["p50_ms"] = percentile(ms, 0.5);
    state.counters["p99_ms"] = percentile(ms, 0.99);
    state.counters["max_ms"] = percentile(ms, 1.0);
    state.counters["joins"] = static_cast<double>(ms.size());
    state.counters["no_picture_in_5s"] = missed;
}
BENCHMARK(BM_JoinToPicture)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// One receiver streaming; the output's figures over its last window of pictures.
void BM_Stages(benchmark::State& state) {
    g_pTaskVENC->SetTiming(hdext::kVencIdleSleep, hdext::kVencFdWait);
    hdext::sim::VoStats s;
    for (auto _ : state) {
        fresh_decoder();
        FakeRx rx(kRxAddr[1]);
        std::this_thread::sleep_for(10s);
        s = hdext::sim::vo_stats(kVoDev, kVoChn);
        state.SetIterationTime(1);
    }
    state.counters["g2g_p50_ms"] = s.latency_p50_us / 1000.0;
    state.counters["g2g_p99_ms"] = s.latency_p99_us / 1000.0;
    for (int i = 0; i < hdext::sim::kStages; ++i) {
        const std::string n = hdext::sim::kStageNames[i];
        state.counters[n + "_p50_ms"] = s.stage_p50_us[i] / 1000.0;
        state.counters[n + "_p99_ms"] = s.stage_p99_us[i] / 1000.0;
    }
}
BENCHMARK(BM_Stages)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    hdext::sim::own_processor();
    debug_level.store(0);
    start_tx();
    start_media();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
    std::fflush(stdout);
    _exit(0); // the media and stream threads live for the process
}
