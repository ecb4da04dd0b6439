// The whole TX capture path in one process on a simulated board: the chip model, the real
// detection, the media facade on the software platform and both encode tasks. Pictures and
// audio frames are taken from consumer lists the way a stream sender takes them.
#include "support/wait.h"
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/board_root.h"
#include "board/board.h"
#include "support/capture_fixture.h"
#include "encode/audio_encoder_task.h"
#include "encode/encode_threads.h"
#include "encode/video_encoder_task.h"
#include "h264_probe.h"
#include "media/codec.h"
#include "settings/bitrate.h"
#include "sim/mpi/sim_control.h"

namespace fs = std::filesystem;
using namespace capture_test;
using namespace std::chrono_literals;

namespace {

constexpr int kCaptureRestarts = 300;

using hdext::test::eventually;

// Takes pictures from `list` until one decodes; returns its size.
std::pair<int, int> decoded_size(frame_buff_head* list) {
    H264Probe probe;
    std::pair<int, int> size{0, 0};
    eventually([&] {
        while (frame_buff* f = frame_dequeue(list)) {
            auto s = probe.feed(frame_bytes(f));
            free_frame(f);
            if (s.first) size = s;
        }
        return size.first != 0;
    });
    return size;
}

void drop_all(frame_buff_head* list) { frame_queue_flush(list); }

struct CapturePipelineTest : HdmiBench {
    std::unique_ptr<hdext::test::TempBoardRoot> board_root;
    fs::path root;

    void SetUp() override {
        HdmiBench::SetUp();
        // The process-wide pieces (audio re-check, facade) must find a simulated board.
        board_root = std::make_unique<hdext::test::TempBoardRoot>();
        root = board_root->dir();
        fs::create_directories(root / "sim");
        // The chip and the software capture both follow the board's sim/hdmi-in.
        hdext::board::register_sim_i2c_device(kBus, 0x2B,
                                              hdext::sim::make_lt6911_model_for_board());
    }
    void plug(const std::string& s) {
        std::ofstream(root / "sim/hdmi-in") << s << "\n";
    }
    void TearDown() override {
        board_root.reset();
        HdmiBench::TearDown();
    }
};

// The process-wide TX pieces, made once for the test program as start-up makes them.
void start_tx_once() {
    static const bool done = [] {
        EXPECT_EQ(init_frame_buff_mgr(512, 102400), 0);
        EXPECT_EQ(init_audio_frame_buff_mgr(512, 8192), 0);
        BitRate = 8;
        EXPECT_EQ(INTF_CodecInit(), 0);
        Quendor_Init_enVideo_Task();
        Quendor_Init_enAudio_Task();
        g_pTaskVENC->SetTiming(1ms, 5ms); // the stream thread follows restarts at once
        g_pAEncoder->SetAudioRecheck([] { get_6911_Audio(); });
        return true;
    }();
    (void)done;
}

TEST_F(CapturePipelineTest, PlugRetuneAndUnplugReachTheConsumerLists) {
    start_tx_once();
    ASSERT_TRUE(g_pTaskVENC && g_pAEncoder);

    frame_buff_head* video = g_pTaskVENC->GetFrameHead();
    frame_buff_head* audio = g_pAEncoder->GetFrameHead();
    ASSERT_TRUE(video && audio);

    // The real pipeline, driven by a detector that reads the test's own chip model.
    hdext::Lt6911Detector real(bus.get(), hdext::default_capture_pipeline(),
                               std::chrono::milliseconds(0));
    plug("1280x720p60 audio=48000");
    real.run_sequence();
    EXPECT_EQ(vi_mode, 2);
    EXPECT_EQ(VencEn, 1);
    EXPECT_EQ(decoded_size(video), std::make_pair(1280, 720));

    ASSERT_TRUE(eventually([&] { return frame_queue_count(audio) >= 5; }));
    frame_buff* a = frame_dequeue(audio);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->kind, kFrameKindAudio);
    EXPECT_GT(a->total, 0u);
    free_audio_frame(a);

    // A new format: the next pictures show the new size.
    plug("1920x1080p50 audio=48000");
    real.run_sequence();
    EXPECT_EQ(VencEn, 1);
    drop_all(video);
    EXPECT_EQ(decoded_size(video), std::make_pair(1920, 1080));

    // Capture restarted again and again while pictures flow: every stop lands while the
    // stream thread is about to read a picture out of the channel being torn down.
    plug("720x480p60 audio=48000");
    real.run_sequence();
    ASSERT_EQ(VencEn, 1);
    for (int i = 0; i < kCaptureRestarts; ++i) {
        const uint64_t taken = videc_number.total.load();
        const uint64_t encoded = hdext::sim::venc_stats(0).encoded;
        ASSERT_TRUE(eventually([&] { return hdext::sim::venc_stats(0).encoded > encoded; }))
            << "restart " << i << ": no picture encoded";
        hdmi_turn_off_video();
        hdmi_turn_on_video();
        if (i % 50 == 49) {
            ASSERT_TRUE(eventually([&] { return videc_number.total.load() > taken; }))
                << "restart " << i << ": pictures no longer read out";
        }
        drop_all(video);
    }
    EXPECT_EQ(decoded_size(video), std::make_pair(720, 480)) << "pictures flow after restarts";

    // Unplugged: capture closes and pictures stop.
    plug("none");
    real.run_sequence();
    EXPECT_EQ(vi_mode, 0);
    EXPECT_EQ(VencEn, 0);
    ASSERT_TRUE(eventually([] { return audio_en.load() == 3; })) << "stop carried out";
    std::this_thread::sleep_for(100ms); // a picture already read out may still arrive
    drop_all(video);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(frame_queue_count(video), 0) << "no pictures after the source was removed";

    hdext::stop_encode_threads();
    g_pTaskVENC->ReleaseFrameHead(video);
    g_pAEncoder->ReleaseFrameHead(audio);
}

} // namespace
