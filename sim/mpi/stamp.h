// The machine-readable stamp the simulated capture draws into every picture (frame number and
// capture time), and the test content around it. The stamp is 3 rows of 40 cells of 16x16
// luma pixels at (16, 16): 64 bits of time, 32 bits of frame number, a CRC-16 and a sync byte.
// Large flat cells survive H.264 at low bit rates. Needs a picture of at least 656 x 64.
#pragma once
#include <cstdint>
#include <optional>

namespace hdext::sim {

struct Stamp {
    uint32_t frame_no;
    uint64_t time_us;
};

constexpr int kStampMinWidth = 656;
constexpr int kStampMinHeight = 64;

void write_stamp(uint8_t* y, int stride, int width, int height, const Stamp& s);
// The stamp of a luma plane, or nothing when no valid stamp is there.
std::optional<Stamp> read_stamp(const uint8_t* y, int stride, int width, int height);

// Fills an NV12 picture with moving content for frame k (stamp area left to write_stamp).
void draw_test_picture(uint8_t* y, int y_stride, uint8_t* uv, int uv_stride, int width, int height,
                       uint32_t k);

} // namespace hdext::sim
