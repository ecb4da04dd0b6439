// Message helpers shared by the media unit wrappers.
#pragma once
#include <cstdio>

// "[method]-line: " before a wrapper's own message.
#define MEDIA_AT() std::printf("[%s]-%d: ", __func__, __LINE__)

// A failed platform call, in the red form the HDMI and decoder wrappers print.
#define MEDIA_RED(call, ret)                                                                       \
    std::printf("\033[0;31m%s failed at %s: LINE: %d with %#x!\033[0;39m\n", call, __func__,       \
                __LINE__, static_cast<unsigned>(ret))

namespace hdext::media {
// x rounded up to a multiple of n.
constexpr unsigned align_up(unsigned x, unsigned n) {
    return (x + n - 1) / n * n;
}
// x rounded down to a multiple of n.
constexpr unsigned align_down(unsigned x, unsigned n) {
    return x / n * n;
}
} // namespace hdext::media
