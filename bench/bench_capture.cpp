// Capture path figures, each as a ratio to a baseline measured in the same run:
//  - plug-in notification to the first encoded picture in a consumer list, against a plain
//    capture restart through the facade (what the detection adds on top);
//  - picture read-out and fan-out to three consumer lists (codec excluded), against a plain
//    copy of the same picture, and as a share of the 16.7 ms frame time at 1080p60.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "board/board.h"
#include "board/i2c.h"
#include "core/frame.h"
#include "encode/audio_encoder_task.h"
#include "encode/encode_threads.h"
#include "encode/video_encoder_task.h"
#include "media/codec.h"
#include "periph/input_state.h"
#include "periph/lt6911.h"
#include "settings/bitrate.h"
#include "sim/devices/lt6911_model.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kPictureBytes = 25000; // 12 Mbit/s at 60 pictures per second
constexpr double kFrameTime1080p60 = 1.0 / 60;

void pools() {
    static bool done = [] {
        init_frame_buff_mgr(512, 102400);
        init_audio_frame_buff_mgr(512, 8192);
        return true;
    }();
    (void)done;
}

// ---- read-out and fan-out -------------------------------------------------------------

// Hands out the same encoded picture each time, copied into a pool frame as the facade does.
class SteadyEncoder {
public:
    SteadyEncoder() : picture_(kPictureBytes, 0x5A) {}
    frame_buff* picture() {
        frame_buff* f = alloc_frame(kPictureBytes);
        if (!f) return nullptr;
        frame_copy_data(f, picture_.data(), kPictureBytes);
        f->kind = kFrameKindVideo;
        return f;
    }

private:
    std::vector<uint8_t> picture_;
};

void drain(frame_buff_head* l) {
    while (frame_buff* f = frame_dequeue(l)) free_frame(f);
}

// Baseline: one plain copy of the same picture.
double g_copy_mean = 0; // seconds, from the baseline run

void BM_BaselinePictureCopy(benchmark::State& state) {
    std::vector<uint8_t> src(kPictureBytes, 0x5A), dst(kPictureBytes);
    double total = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        std::memcpy(dst.data(), src.data(), kPictureBytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
        const double dt = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(dt);
        total += dt;
    }
    g_copy_mean = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BaselinePictureCopy)->UseManualTime()->Unit(benchmark::kMicrosecond);

// One picture read out and handed to three consumers (the consumers' own work is not timed).
void BM_ReadOutAndFanOut(benchmark::State& state) {
    pools();
    SteadyEncoder enc;
    CVideoEncoderTask task(0, 0, 0, 3, 12);
    std::fflush(stdout);
    frame_buff_head* lists[3] = {task.GetFrameHead(), task.GetFrameHead(), task.GetFrameHead()};
    uint64_t n = 0;
    double total = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        // What one read-out does once the facade has copied the picture out.
        if (frame_buff* f = enc.picture()) {
            task.PutStreamToList(f);
            task.CountFrame(kPictureBytes);
            free_frame(f);
        }
        const double dt = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(dt);
        total += dt;
        if (++n % 32 == 0)
            for (auto* l : lists) drain(l);
    }
    for (auto* l : lists) drain(l);
    const double mean = total / static_cast<double>(state.iterations());
    state.counters["pct_of_1080p60_frame"] = 100.0 * mean / kFrameTime1080p60;
    if (g_copy_mean > 0) state.counters["x_plain_copy"] = mean / g_copy_mean;
}
BENCHMARK(BM_ReadOutAndFanOut)->UseManualTime()->Unit(benchmark::kMicrosecond);

// ---- plug-in to first picture ------------------------------------------------------------

// A simulated TX in this process: board root, software platform, chip model, listener.
struct Tx {
    fs::path root;
    int fifo = -1;
    std::unique_ptr<hdext::board::I2cBus> bus;
    std::unique_ptr<hdext::Lt6911Detector> detector;
    std::unique_ptr<hdext::Lt6911Listener> listener;
    frame_buff_head* video = nullptr;

    Tx() {
        pools();
        char tmpl[] = "/tmp/hdext-bench-capture-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root / "sim");
        fs::create_directories(root / "dev");
        mkfifo((root / "dev/lt6911").c_str(), 0600);
        fifo = ::open((root / "dev/lt6911").c_str(), O_RDWR | O_NONBLOCK);
        setenv("HDEXT_BOARD_ROOT", root.c_str(), 1);
        hdext::board::reload_root();
        plug("none");
        hdext::board::register_sim_i2c_device(0, 0x2B, hdext::sim::make_lt6911_model_for_board());
        bus = hdext::board::make_sim_i2c_bus(0);
        BitRate = 12;
        INTF_CodecInit();
        Quendor_Init_enVideo_Task();
        Quendor_Init_enAudio_Task();
        video = g_pTaskVENC->GetFrameHead();
        detector = std::make_unique<hdext::Lt6911Detector>(bus.get(),
                                                           hdext::default_capture_pipeline());
        listener = std::make_unique<hdext::Lt6911Listener>(*detector, "/dev/lt6911", 100);
        // First start of the encoders: what follows measures a TX that has run before.
        plug("1920x1080p60 audio=48000");
        notify_and_wait();
        wait_first_picture();
    }
    ~Tx() {
        listener.reset();
        hdext::stop_encode_threads();
        // The software platform's capture threads end with their units, not at exit.
        hdmi_turn_off_video();
        INTF_CodecExit();
        g_pTaskVENC->ReleaseFrameHead(video);
        ::close(fifo);
        unsetenv("HDEXT_BOARD_ROOT");
        hdext::board::reload_root();
        fs::remove_all(root);
    }
    void plug(const char* s) { std::ofstream(root / "sim/hdmi-in") << s << "\n"; }
    void notify_and_wait() {
        const int before = listener->sequences_run();
        (void)!::write(fifo, "x", 1);
        while (listener->sequences_run() == before) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    void wait_first_picture() {
        while (frame_queue_count(video) == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
};

Tx& tx() {
    static Tx* t = new Tx; // ended by end_tx() before the process exits
    return *t;
}

// Baseline: the same restart through the facade alone, no detection.
double g_restart_mean = 0;

void BM_BaselineFacadeRestartToFirstPicture(benchmark::State& state) {
    Tx& t = tx();
    double total = 0;
    for (auto _ : state) {
        hdmi_turn_off_video();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        frame_queue_flush(t.video);
        auto t0 = Clock::now();
        hdmi_turn_on_video();
        t.wait_first_picture();
        const double dt = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(dt);
        total += dt;
    }
    g_restart_mean = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_BaselineFacadeRestartToFirstPicture)
    ->UseManualTime()
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);

// Re-plug on a running TX: unplug (untimed), then from the notification byte to the first
// encoded picture queued for a consumer.
void BM_PlugToFirstPicture(benchmark::State& state) {
    Tx& t = tx();
    double total = 0;
    for (auto _ : state) {
        t.plug("none");
        t.notify_and_wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        frame_queue_flush(t.video);
        t.plug("1920x1080p60 audio=48000");
        auto t0 = Clock::now();
        (void)!::write(t.fifo, "x", 1);
        t.wait_first_picture();
        const double dt = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(dt);
        total += dt;
    }
    const double mean = total / static_cast<double>(state.iterations());
    state.counters["ms"] = mean * 1000;
    if (g_restart_mean > 0) state.counters["x_facade_restart"] = mean / g_restart_mean;
}
BENCHMARK(BM_PlugToFirstPicture)->UseManualTime()->Iterations(8)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete &tx();
    return 0;
}
