// The sources that take frames off the re-stream lists: what reaches the RTSP tracks, the
// refused frames and their messages, and the audio source's silence.
#include <gtest/gtest.h>

#include <numeric>

#include "rtsp/rtsp_frames.h"
#include "rtsp_test_util.h"

using namespace rtsp_test;

namespace {

class ListSources : public ::testing::Test {
protected:
    void SetUp() override {
        env();
        init_frame_buff_head(&list);
    }
    void TearDown() override { frame_queue_flush(&list); }
    frame_buff_head list{};
};

std::string captured(const std::function<void()>& fn) {
    fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST_F(ListSources, ChainedVideoFramesArriveWholeAndOversizeOnesAreDroppedWithTheMessage) {
    std::vector<uint8_t> big(300000);
    std::iota(big.begin(), big.end(), 0);
    put_frame(&list, big.data(), big.size(), false, 1);
    std::vector<uint8_t> over(kRtspMaxFrameSize + 1, 7);
    put_frame(&list, over.data(), over.size(), false, 2);
    const uint8_t small[] = {0, 0, 0, 1, 0x65, 1, 2, 3};
    put_frame(&list, small, sizeof small, false, 3);

    H264FramedLiveSource source(&list);
    std::vector<unsigned char> dst(kRtspMaxFrameSize);
    timeval pt{};
    EXPECT_EQ(source.doGetNextFrame(dst.data(), &pt), 300000);
    EXPECT_TRUE(std::equal(big.begin(), big.end(), dst.begin()));
    EXPECT_NE(pt.tv_sec, 0);
    int n = -1;
    std::string out = captured([&] { n = source.doGetNextFrame(dst.data(), &pt); });
    EXPECT_EQ(n, 0);
    EXPECT_EQ(out, "$$$ RTSP Video  Data overload,total_len=8388609,maxsize=8388608 \n");
    EXPECT_EQ(source.doGetNextFrame(dst.data(), &pt), static_cast<int>(sizeof small));
    EXPECT_EQ(source.doGetNextFrame(dst.data(), &pt), 0) << "an empty list gives an empty frame";
    EXPECT_EQ(frame_queue_count(&list), 0);
}

TEST_F(ListSources, AudioFramesWithoutStampAreSkippedAndLongOnesCutToThePreferredSize) {
    std::vector<uint8_t> a(1024, 0x11);
    put_frame(&list, a.data(), a.size(), true, 0);       // padding: no time stamp, no aux
    put_frame(&list, a.data(), a.size(), true, 5);
    std::vector<uint8_t> longer(3000, 0x22);
    put_frame(&list, longer.data(), longer.size(), true, 6);
    unsigned char dst[8192] = {};
    EXPECT_EQ(Get_Audio_Encode_Frame(dst, sizeof dst, nullptr, &list), 0);
    EXPECT_EQ(Get_Audio_Encode_Frame(dst, sizeof dst, nullptr, &list), 1024);
    EXPECT_EQ(dst[1023], 0x11);

    G711AudioStreamSource source(&list, kRtspAudioRate);
    double us = 0;
    EXPECT_EQ(source.doGetNextFrame(dst, sizeof dst, nullptr, &us), 1400) << "cut at the preferred frame size";
    EXPECT_EQ(dst[1399], 0x22);
    EXPECT_EQ(G711AudioStreamSource(&list, 8000).preferredFrameSize(), 640);
    EXPECT_EQ(G711AudioStreamSource(&list, kRtspRateNoAudio).samplingFrequency(), 48000);
}

TEST_F(ListSources, LongSilenceOnTheListBecomesAlawSilenceBlocks) {
    G711AudioStreamSource source(&list, kRtspAudioRate);
    unsigned char dst[2048];
    double us = 0;
    auto polls_to_block = [&] {
        for (int i = 1; i < 10000; ++i) {
            int n = source.doGetNextFrame(dst, sizeof dst, nullptr, &us);
            if (n) {
                EXPECT_EQ(n, kSilenceBlockBytes);
                for (int k = 0; k < n; ++k) EXPECT_EQ(dst[k], 0xD5) << k;
                return i;
            }
        }
        return -1;
    };
    EXPECT_EQ(polls_to_block(), 1002) << "from start-up the first block comes after 1001 empty polls";
    EXPECT_EQ(polls_to_block(), 1025);
    std::vector<uint8_t> a(1024, 0x11);
    put_frame(&list, a.data(), a.size(), true, 9);
    EXPECT_EQ(source.doGetNextFrame(dst, sizeof dst, nullptr, &us), 1024);
    EXPECT_EQ(polls_to_block(), 3002) << "after real audio the run must be longer than 3000 polls";
}

} // namespace
