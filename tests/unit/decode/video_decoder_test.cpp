// The video decode task on a simulated RX: status pictures, live video from the decode list,
// the no-signal rule, timing changes, the list limit and late pictures, seen on the HDMI output.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "core/mempool.h"
#include "decode/decode_control.h"
#include "decode/decode_entry.h"
#include "decode/late_policy.h"
#include "decode/video_feeder.h"
#include "decode_fixture.h"
#include "periph/input_state.h"
#include "sim/mpi/sim_control.h"
#include "stream/rx_format.h"

namespace hdext::test {
namespace {

using sim::vo_stats;

int state() { return g_pDecoder->m_DisplayState.load(); }

MEMPOOL_STATS video_payloads() { return mempool_stats(frame_pool(kFrameKindVideo, true)); }

void dispatch(const std::vector<uint8_t>& bytes, uint64_t pts) {
    frame_buff* f = make_video_frame(bytes, pts);
    ASSERT_NE(f, nullptr);
    g_pDecoder->DispatchFrameToList(f);
    free_frame(f);
}

// A status picture is up on output 1/1 when it has been shown twice (it is sent twice).
bool picture_up() { return vo_stats(1, 1).shown >= 2; }

class StartUpPicture : public DecodeTest, public ::testing::WithParamInterface<std::tuple<const char*, int, const char*>> {};

TEST_P(StartUpPicture, ChosenFromTheStoredNetworkNameAt1080p60) {
    const auto [ssid, type, file] = GetParam();
    init_tasks(ssid);
    ASSERT_TRUE(eventually(picture_up));
    EXPECT_EQ(state(), type);
    EXPECT_EQ(out_status("source"), "picture");
    EXPECT_EQ(out_status("output"), "1/1");
    EXPECT_EQ(out_status("timing"), "23");
    EXPECT_EQ(out_status("hdmi_audio_rate"), "48000");
    EXPECT_EQ(out_status("width"), "1920");
    EXPECT_EQ(out_status("picture_checksum"), std::to_string(jpeg_checksum(root + file)));
    const auto gpio = gpio_writes();
    ASSERT_GE(gpio.size(), 2u);
    EXPECT_EQ(gpio[gpio.size() - 2], "/sys/class/gpio/gpio62/value 0");
    EXPECT_EQ(gpio.back(), "/sys/class/gpio/gpio63/value 1");
}

INSTANTIATE_TEST_SUITE_P(Names, StartUpPicture,
                         ::testing::Values(std::make_tuple("QUENDOR_DEFAULT", 3, "/home/res/RX_Pairing.jpg"),
                                           std::make_tuple("LivingRoom", 1, "/home/res/RX_Searching.jpg")));

TEST_F(DecodeTest, MissingPictureIsReportedShowsNothingAndTheUnitCarriesOn) {
    std::filesystem::remove(root + "/home/res/RX_Searching.jpg");
    StdoutCapture out;
    init_tasks("LivingRoom");
    EXPECT_EQ(state(), 0);
    EXPECT_EQ(vo_stats(1, 1).shown, 0u);
    EXPECT_NE(out.text().find("/home/res/RX_Searching.jpg cannot be read"), std::string::npos) << out.text();

    send_and_wait(0x7001, 4);
    ASSERT_TRUE(eventually(picture_up));
    EXPECT_EQ(state(), 4);
    EXPECT_EQ(out_status("picture_checksum"), std::to_string(jpeg_checksum(root + "/home/res/RX_isPairing.jpg")));
}

TEST_F(DecodeTest, LiveFramesReachTheOutputInOrderAndChainedFramesAreReassembled) {
    init_tasks("LivingRoom");
    ASSERT_TRUE(eventually(picture_up));
    auto pics = encode_pictures(1280, 720, 24);
    ASSERT_EQ(pics.size(), 24u);
    pics[0].resize(150000, 0); // trailing zero bytes: the IDR picture spans two chunks
    const MEMPOOL_STATS base = video_payloads();
    start_video();
    EXPECT_EQ(state(), 6);
    for (size_t i = 0; i < pics.size(); ++i) dispatch(pics[i], 1000 + i);
    ASSERT_TRUE(eventually([] { return vo_stats(0, 0).shown >= 24; }));
    const sim::VoStats live = vo_stats(0, 0);
    EXPECT_EQ(live.shown, 24u);
    EXPECT_EQ(live.stamped, 24u);
    EXPECT_EQ(live.gaps, 0u);
    EXPECT_EQ(live.reordered, 0u);
    EXPECT_EQ(live.first_frame, 0);
    EXPECT_EQ(live.last_frame, 23);
    EXPECT_EQ(out_status("source"), "video");
    EXPECT_EQ(out_status("output"), "0/0");
    EXPECT_EQ(out_status("timing"), "10");
    EXPECT_EQ(g_sync_videc_pts.load(), 1023u);
    EXPECT_EQ(gpio_writes().back(), "/sys/class/gpio/gpio63/value 0"); // 720p60 is below code 22

    // Segments that add up to less than the frame's total: dropped, said so, and freed.
    StdoutCapture out;
    frame_buff* f = make_video_frame(std::vector<uint8_t>(150000, 0), 2000);
    f->total += 100;
    g_pDecoder->DispatchFrameToList(f);
    free_frame(f);
    ASSERT_TRUE(eventually([&] { return out.text().find("DecodeStreamEntry error .... It's not equal\n") != std::string::npos; }));
    ASSERT_TRUE(eventually([&] { return same(video_payloads(), base); }));
    EXPECT_EQ(vo_stats(0, 0).shown, 24u);
    EXPECT_EQ(g_sync_videc_pts.load(), 2000u);
}

TEST_F(DecodeTest, OverTheLimitOrBehindAnIdrPictureTheBacklogGoesBeforeTheNextFrame) {
    init_tasks("LivingRoom");
    const MEMPOOL_STATS base = video_payloads();
    const std::vector<uint8_t> bytes(100, 7);
    for (int i = 0; i < 151; ++i) dispatch(bytes, i + 1);
    EXPECT_EQ(frame_queue_count(g_pDecoder->m_pList), 151);
    dispatch(bytes, 500);
    ASSERT_EQ(frame_queue_count(g_pDecoder->m_pList), 1);
    EXPECT_EQ(g_pDecoder->m_pList->first->pts, 500u);

    // Over three pictures waiting are skipped when an IDR picture arrives (late drops).
    const auto pics = encode_pictures(320, 180, 4), idr = encode_pictures(320, 180, 1, 10);
    const uint64_t drops = late_drops_figure();
    for (int i = 1; i <= 3; ++i) dispatch(i < 3 ? pics[i] : idr[0], i);
    EXPECT_EQ(frame_queue_count(g_pDecoder->m_pList), 4);
    dispatch(idr[0], 11);
    EXPECT_EQ(g_pDecoder->m_pList->first->pts, 11u);
    EXPECT_EQ(frame_queue_count(g_pDecoder->m_pList), 1);
    frame_queue_flush(g_pDecoder->m_pList);
    EXPECT_EQ(late_drops_figure(), drops + 4);
    EXPECT_TRUE(same(video_payloads(), base));
}

TEST_F(DecodeTest, NoSignalAfter401EmptyPollsTheNextFrameBringsVideoBackLatePicturesAreSkipped) {
    init_tasks("LivingRoom");
    ASSERT_TRUE(eventually(picture_up));
    decode::set_decode_timing({1 << 30, std::chrono::microseconds(0), std::chrono::milliseconds(0)});
    start_video();
    decode::stop_decode_threads(); // the test drives the loop itself
    decode::set_decode_timing({401, std::chrono::microseconds(0), std::chrono::milliseconds(0)});
    decode::set_late_budgets({});
    CVideoFeeder feeder(g_pDecoder);

    const uint32_t handled = g_pDecoder->m_MsgsHandled.load();
    for (int i = 0; i < 400; ++i) ASSERT_FALSE(feeder.Step());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(state(), 6);
    EXPECT_EQ(g_pDecoder->m_MsgsHandled.load(), handled);
    EXPECT_EQ(g_pDecoder->m_VideoActive.load(), 1);

    ASSERT_FALSE(feeder.Step());
    EXPECT_EQ(feeder.IdlePolls(), 0);
    ASSERT_TRUE(eventually([&] { return g_pDecoder->m_MsgsHandled.load() > handled && picture_up(); }));
    EXPECT_EQ(state(), 5);
    EXPECT_EQ(g_pDecoder->m_VideoActive.load(), 0);
    EXPECT_EQ(out_status("output"), "1/1");
    EXPECT_EQ(out_status("timing"), "23");
    EXPECT_EQ(out_status("picture_checksum"), std::to_string(jpeg_checksum(root + "/home/res/RX_NoSignal.jpg")));

    // The first frame back restarts video and waits for it: most often it is the IDR picture
    // the stream resumes with.
    const auto trigger = encode_pictures(1280, 720, 1, 50);
    const auto pics = encode_pictures(1280, 720, 8, 100);
    ASSERT_EQ(pics.size(), 8u);
    dispatch(trigger[0], 1);
    const uint32_t before = g_pDecoder->m_MsgsHandled.load();
    ASSERT_TRUE(feeder.Step());
    ASSERT_TRUE(eventually([&] { return g_pDecoder->m_MsgsHandled.load() > before; }));
    EXPECT_EQ(state(), 6);
    EXPECT_EQ(g_pDecoder->m_PicActive.load(), 0);
    for (size_t i = 0; i < pics.size(); ++i) {
        dispatch(pics[i], 10 + i);
        ASSERT_TRUE(feeder.Step());
    }
    ASSERT_TRUE(feeder.Step());
    ASSERT_TRUE(eventually([] { return vo_stats(0, 0).shown >= 9; }));
    EXPECT_EQ(vo_stats(0, 0).shown, 9u);
    EXPECT_EQ(vo_stats(0, 0).first_frame, 50);
    EXPECT_EQ(vo_stats(0, 0).gaps, 49u);

    // A picture that comes 300 ms after the one captured before it is not shown, nor are those
    // that need it; video resumes at the next IDR picture.
    auto more = encode_pictures(1280, 720, 4, 200);
    more.push_back(encode_pictures(1280, 720, 1, 300)[0]);
    const uint64_t drops = late_drops_figure();
    uint64_t pts = 0;
    for (size_t i = 0; i < more.size(); ++i) {
        if (i == 2) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pts = i == 2 ? pts + 1 : std::max(pts + 1, frame_now_us());
        dispatch(more[i], pts);
        ASSERT_TRUE(feeder.Step());
    }
    ASSERT_TRUE(eventually([] { return vo_stats(0, 0).last_frame == 300; }));
    EXPECT_EQ(vo_stats(0, 0).shown, 12u); // 200, 201 and 300
    EXPECT_EQ(late_drops_figure(), drops + 2);
}

TEST_F(DecodeTest, MissingNoSignalPictureKeepsLiveVideoReadyForTheNextFrame) {
    init_tasks("LivingRoom");
    ASSERT_TRUE(eventually(picture_up));
    start_video();
    decode::stop_decode_threads();
    decode::set_decode_timing({401, std::chrono::microseconds(0), std::chrono::milliseconds(0)});
    std::filesystem::remove(root + "/home/res/RX_NoSignal.jpg");
    CVideoFeeder feeder(g_pDecoder);
    const uint32_t handled = g_pDecoder->m_MsgsHandled.load();
    for (int i = 0; i < 401; ++i) ASSERT_FALSE(feeder.Step());
    ASSERT_TRUE(eventually([&] { return g_pDecoder->m_MsgsHandled.load() > handled; }));
    EXPECT_EQ(state(), 6);
    EXPECT_EQ(g_pDecoder->m_VideoActive.load(), 1);
    EXPECT_EQ(g_pDecoder->m_PicActive.load(), 0);
    for (const auto& p : encode_pictures(1280, 720, 3)) {
        dispatch(p, 1);
        ASSERT_TRUE(feeder.Step());
    }
    ASSERT_TRUE(eventually([] { return vo_stats(0, 0).shown >= 3; }));
}

TEST_F(DecodeTest, TimingChangeRetimesTheOutputAndAPictureRequestStopsVideo) {
    init_tasks("LivingRoom");
    ASSERT_TRUE(eventually(picture_up));
    set_format(10, 1280, 720, 60, 44100);
    start_video();
    for (const auto& p : encode_pictures(1280, 720, 4)) dispatch(p, 1);
    ASSERT_TRUE(eventually([] { return vo_stats(0, 0).shown >= 4; }));
    EXPECT_EQ(out_status("hdmi_audio_rate"), "44100");

    set_format(5, 720, 480, 60, 48000);
    send_and_wait(0x7002, 0);
    EXPECT_EQ(state(), 6);
    EXPECT_EQ(g_pDecoder->m_Width, 720);
    EXPECT_EQ(g_pDecoder->m_Height, 480);
    for (const auto& p : encode_pictures(720, 480, 4)) dispatch(p, 2);
    ASSERT_TRUE(eventually([] { return vo_stats(0, 0).shown >= 4 && vo_stats(0, 0).width == 720; }));
    EXPECT_EQ(vo_stats(0, 0).height, 480);
    EXPECT_EQ(out_status("timing"), "5");

    // The transmitter lost its input: the video channel stops, the picture shows at 1080p60.
    send_and_wait(0x7001, 2);
    ASSERT_TRUE(eventually(picture_up));
    EXPECT_EQ(state(), 2);
    EXPECT_EQ(g_pDecoder->m_VideoActive.load(), 0);
    EXPECT_EQ(out_status("output"), "1/1");
    EXPECT_EQ(out_status("timing"), "23");
    EXPECT_EQ(out_status("hdmi_audio_rate"), "48000");
    EXPECT_EQ(out_status("picture_checksum"), std::to_string(jpeg_checksum(root + "/home/res/RX_CHECK_HDMI.jpg")));
}

TEST_F(DecodeTest, StartVideoWithoutValidTimingWritesTheGpiosOnly) {
    init_tasks("LivingRoom");
    ASSERT_TRUE(eventually(picture_up));
    VO_SYNC_ATT.store(49);
    const size_t writes = gpio_writes().size();
    EXPECT_EQ(g_pDecoder->StartVideo(), -1);
    const auto gpio = gpio_writes();
    ASSERT_EQ(gpio.size(), writes + 2);
    EXPECT_EQ(gpio[writes], "/sys/class/gpio/gpio62/value 0");
    EXPECT_EQ(gpio[writes + 1], "/sys/class/gpio/gpio63/value 1");
    EXPECT_EQ(g_pDecoder->m_PicActive.load(), 1);
    EXPECT_EQ(g_pDecoder->m_VideoActive.load(), 0);
    EXPECT_EQ(state(), 1);
    EXPECT_EQ(vo_stats(1, 1).shown, 2u); // the picture channel was not restarted
}

} // namespace
} // namespace hdext::test
