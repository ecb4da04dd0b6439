// Where a receiver may start decoding: the first picture slice decides, not what precedes it.
#include "media/h264.h"
#include <gtest/gtest.h>
#include <vector>

TEST(H264, TheFirstPictureSliceDecidesWhetherAnAccessUnitIsAnIdr) {
    using hdext::media::h264_is_idr;
    // SPS, PPS and SEI (4-byte start codes), then an IDR slice: a key picture.
    const std::vector<uint8_t> key = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE,
                                      0, 0, 0, 1, 0x06, 0x05, 0, 0, 1, 0x65, 0x88};
    EXPECT_TRUE(h264_is_idr(key.data(), key.size()));
    // A P slice first (3-byte start code): whatever follows does not make it a key picture.
    const std::vector<uint8_t> p = {0, 0, 1, 0x41, 0x9A, 0, 0, 1, 0x65, 0x88};
    EXPECT_FALSE(h264_is_idr(p.data(), p.size()));
    // Parameter sets alone, a start code cut at the end, nothing at all.
    EXPECT_FALSE(h264_is_idr(key.data(), 12));
    EXPECT_FALSE(h264_is_idr(key.data(), key.size() - 2));
    EXPECT_FALSE(h264_is_idr(nullptr, 0));
}
