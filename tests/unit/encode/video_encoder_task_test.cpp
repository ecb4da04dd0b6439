// The video encode task: picture fan-out to the consumer lists, drop-all, list hand-out and
// release, statistics, and the stream thread against the recording platform.
#include "support/wait.h"
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "board/figures.h"
#include "core/mempool.h"
#include "encode/video_encoder_task.h"
#include "encode_test_util.h"
#include "media/codec.h"
#include "periph/input_state.h"
#include "settings/bitrate.h"

using namespace encode_test;
using namespace std::chrono_literals;

namespace {

[[maybe_unused]] auto* const pools = ::testing::AddGlobalTestEnvironment(new FramePools);

int payloads_in_use() { return frame_pool(kFrameKindVideo, true)->used; }

struct VideoTask : ::testing::Test {
    CVideoEncoderTask task{0, 0, 0, 3, 12};

    void SetUp() override {
        fresh_platform();
        videc_number.total = 0;
        videc_number.bytes = 0;
        videc_number.frames = 0;
    }
    void TearDown() override { rec().reset(); }

    // One picture through the task as the stream thread handles it.
    void feed(uint32_t tag, uint32_t size = 1000) {
        push_picture(size, tag);
        task.GetStream();
    }
    frame_buff_head* claim() {
        testing::internal::CaptureStdout();
        frame_buff_head* h = task.GetFrameHead();
        testing::internal::GetCapturedStdout();
        return h;
    }
};

TEST_F(VideoTask, PicturesGoOnlyToListsInUseAndAreCountedAnyway) {
    feed(0);  // no list in use: freed at once
    frame_buff_head* a = claim();
    frame_buff_head* b = claim();
    feed(1);
    feed(2);
    frame_buff_head* c = claim();
    feed(3);
    EXPECT_EQ(drain(a), (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_EQ(drain(b), (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_EQ(drain(c), (std::vector<uint64_t>{3}));
    EXPECT_EQ(payloads_in_use(), 0) << "every clone and the original released";
    EXPECT_EQ(videc_number.total, 4u);
}

// Drop-all: a consumer over the limit loses its whole backlog, then gets the new picture.
TEST_F(VideoTask, LimitFollowsSetFrameListLength) {
    EXPECT_EQ(task.SetFrameListLength(150), 0);
    frame_buff_head* l = claim();
    for (uint32_t i = 1; i <= 151; ++i) feed(i, 100);
    EXPECT_EQ(frame_queue_count(l), 151);
    feed(152, 100);
    EXPECT_EQ(frame_queue_count(l), 1);
    EXPECT_EQ(task.SetFrameListLength(250), -1);
    EXPECT_EQ(task.GetListLimit(), 100);
    drain(l);
}

TEST_F(VideoTask, ListsAreHandedOutLowestFirstAndReleasedWithTheirFrames) {
    frame_buff_head* l0 = claim();
    frame_buff_head* l1 = claim();
    frame_buff_head* l2 = claim();
    ASSERT_TRUE(l0 && l1 && l2);

    EXPECT_EQ(claim(), nullptr) << "three lists at most";
    feed(7);
    testing::internal::CaptureStdout();
    task.ReleaseFrameHead(l1);
    frame_buff_head foreign;
    init_frame_buff_head(&foreign);
    task.ReleaseFrameHead(&foreign);
    task.ReleaseFrameHead(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Video Release frame head : 1\n");
    EXPECT_EQ(frame_queue_count(l1), 0) << "released with its frames";
    EXPECT_EQ(claim(), l1) << "the released list is the next one handed out";
    drain(l0);
    drain(l2);
    EXPECT_EQ(payloads_in_use(), 0);
}

using hdext::test::eventually;

TEST_F(VideoTask, StreamThreadIdlesWhileTheEncoderIsOffAndFollowsARecreatedOne) {
    task.SetTiming(1ms, 10ms);
    frame_buff_head* l = claim();
    VencEn = 1;
    std::atomic<bool> stop{false};
    std::thread t([&] { task.RunStream(&stop); });
    for (uint32_t i = 1; i <= 5; ++i) push_picture(500, i);
    EXPECT_TRUE(eventually([&] { return frame_queue_count(l) == 5; }));

    VencEn = 0;
    push_picture(500, 6);
    std::this_thread::sleep_for(50ms); // several idle periods: the picture must stay put
    EXPECT_EQ(pictures_taken(), 5) << "no read-out while the encoder is off";
    VencEn = 1;
    EXPECT_TRUE(eventually([&] { return frame_queue_count(l) == 6; }));
    // Stopped and started again between two looks at VencEn: only the descriptor tells.
    rec().renew_venc_fd();
    push_picture(500, 7);
    EXPECT_TRUE(eventually([&] { return frame_queue_count(l) == 7; }));
    stop = true;
    t.join();
    EXPECT_EQ(drain(l), (std::vector<uint64_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(videc_number.total, 7u);
    VencEn = 0;
}

// Early looks leave wide margins: only a stall of hundreds of milliseconds could mislead them.
TEST_F(VideoTask, ReceiversJoiningTogetherShareOneIdrAndLaterRequestsWaitTheirTurn) {
    task.SetTiming(1ms, 5ms, 400ms);
    VencEn = 1;
    std::atomic<bool> stop{false};
    std::thread t([&] { task.RunStream(&stop); });
    auto idrs = [] { return rec().count("ss_mpi_venc_request_idr"); };
    for (int i = 0; i < 3; ++i) task.RequestIdr();
    EXPECT_TRUE(eventually([&] { return idrs() == 1; }));
    task.RequestIdr();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(idrs(), 1) << "a second IDR within the gap";
    EXPECT_TRUE(eventually([&] { return idrs() == 2; })) << "the later request was forgotten";
    task.RequestIdr(1200ms); // a new input format: for receivers that restarted meanwhile
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(idrs(), 2) << "too early for restarted receivers";
    EXPECT_TRUE(eventually([&] { return idrs() == 3; }));
    stop = true;
    t.join();
    VencEn = 0;
    EXPECT_EQ(rec().find("ss_mpi_venc_request_idr").args, (std::vector<long long>{0, 1}));
}

TEST_F(VideoTask, StoppingTheEncoderWaitsForAReadOutInProgress) {
    task.SetTiming(1ms, 20ms);
    CVideoEncoderTask* const program_task = g_pTaskVENC;
    g_pTaskVENC = &task;
    VencEn = 1;
    std::atomic<bool> reading{false};
    rec().during_get_stream = [&] {
        reading = true;
        // Gives a stop racing this read-out every chance to tear the channel down now.
        for (auto end = std::chrono::steady_clock::now() + 200ms;
             std::chrono::steady_clock::now() < end && rec().count("ss_mpi_venc_stop_chn") == 0;)
            std::this_thread::sleep_for(1ms);
    };
    std::atomic<bool> stop{false};
    std::thread t([&] { task.RunStream(&stop); });
    push_picture(500, 1);
    ASSERT_TRUE(eventually([&] { return reading.load(); }));
    testing::internal::CaptureStdout();
    hdmi_turn_off_video();
    testing::internal::GetCapturedStdout();
    stop = true;
    t.join();
    rec().during_get_stream = nullptr;
    g_pTaskVENC = program_task;

    const auto venc = rec().names("ss_mpi_venc_");
    auto at = [&](const char* n) { return std::find(venc.begin(), venc.end(), n) - venc.begin(); };
    ASSERT_LT(at("ss_mpi_venc_stop_chn"), static_cast<long>(venc.size()));
    EXPECT_LT(at("ss_mpi_venc_release_stream"), at("ss_mpi_venc_stop_chn"))
        << "the picture is released before its channel is stopped";
    EXPECT_EQ(VencEn, 0);
}

// A receiver falling behind lowers the running encoder's rate at the stream thread's next look,
// to what its link was measured to carry; the capture's figures tell the rate and the step.
TEST_F(VideoTask, AReceiverFallingBehindLowersTheRunningEncodersRate) {
    task.SetTiming(1ms, 5ms);
    BitRate = 12;
    INTF_SetResolution(23, 16, 60, 1920, 1080);
    INTF_VENC_SetBitrate(0, 12);
    ASSERT_EQ(INTF_VENC_Start(0), 0);
    frame_buff_head* l = claim();
    // Its socket has held a picture for 90 ms; its link carries 4000 kbit/s of video.
    task.NoteLink(l, frame_now_us() - 90000, 0, 4000);
    VencEn = 1;
    std::atomic<bool> stop{false};
    std::thread t([&] { task.RunStream(&stop); });
    EXPECT_TRUE(eventually([] { return rec().count("ss_mpi_venc_set_chn_attr") == 1; }));
    stop = true;
    t.join();
    VencEn = 0;
    const auto a = rec().find("ss_mpi_venc_set_chn_attr").as<ot_venc_chn_attr>();
    EXPECT_EQ(a.rc.bit_rate, 3400u) << "85 % of the measured link";
    EXPECT_EQ(a.width, 1920u) << "the running channel's other attributes stay";
    const std::string figures = hdext::board::figure_lines(hdext::board::FigureSheet::capture);
    EXPECT_NE(figures.find("bitrate_kbps=3400\n"), std::string::npos) << figures;
    EXPECT_NE(figures.find("bitrate_ceiling_kbps=12288\n"), std::string::npos) << figures;
    INTF_VENC_Stop(0);
    task.ReleaseFrameHead(l);
}

} // namespace
