#include "sim/mpi/stamp.h"
#include <algorithm>
#include <cstring>
#include <vector>

namespace hdext::sim {

namespace {
constexpr int kCell = 16;
constexpr int kOrigin = 16;
constexpr int kCols = 40;
constexpr int kRows = 3;
constexpr int kBits = kCols * kRows; // 120
constexpr uint8_t kSync = 0xA5;
constexpr uint8_t kBlack = 16;
constexpr uint8_t kWhite = 235;

uint16_t crc16(const uint8_t* d, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint16_t>(d[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

void payload_bytes(const Stamp& s, uint8_t out[15]) {
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<uint8_t>(s.time_us >> (8 * i));
    for (int i = 0; i < 4; ++i)
        out[8 + i] = static_cast<uint8_t>(s.frame_no >> (8 * i));
    const uint16_t crc = crc16(out, 12);
    out[12] = static_cast<uint8_t>(crc);
    out[13] = static_cast<uint8_t>(crc >> 8);
    out[14] = kSync;
}

bool fits(int width, int height) {
    return width >= kStampMinWidth && height >= kStampMinHeight;
}
} // namespace

void write_stamp(uint8_t* y, int stride, int width, int height, const Stamp& s) {
    if (!fits(width, height))
        return;
    uint8_t bytes[15];
    payload_bytes(s, bytes);
    for (int bit = 0; bit < kBits; ++bit) {
        const bool one = (bytes[bit / 8] >> (bit % 8)) & 1;
        const int x0 = kOrigin + (bit % kCols) * kCell;
        const int y0 = kOrigin + (bit / kCols) * kCell;
        for (int r = 0; r < kCell; ++r)
            std::memset(y + (y0 + r) * stride + x0, one ? kWhite : kBlack, kCell);
    }
}

std::optional<Stamp> read_stamp(const uint8_t* y, int stride, int width, int height) {
    if (!fits(width, height))
        return std::nullopt;
    uint8_t bytes[15] = {};
    for (int bit = 0; bit < kBits; ++bit) {
        // The cell's centre half: the edges are where compression smears.
        const int x0 = kOrigin + (bit % kCols) * kCell + kCell / 4;
        const int y0 = kOrigin + (bit / kCols) * kCell + kCell / 4;
        unsigned sum = 0;
        for (int r = 0; r < kCell / 2; ++r) {
            const uint8_t* p = y + (y0 + r) * stride + x0;
            for (int c = 0; c < kCell / 2; ++c)
                sum += p[c];
        }
        if (sum / (kCell * kCell / 4) >= 128)
            bytes[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
    }
    if (bytes[14] != kSync)
        return std::nullopt;
    const uint16_t crc = crc16(bytes, 12);
    if (bytes[12] != static_cast<uint8_t>(crc) || bytes[13] != static_cast<uint8_t>(crc >> 8))
        return std::nullopt;
    Stamp s{};
    for (int i = 0; i < 8; ++i)
        s.time_us |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    for (int i = 0; i < 4; ++i)
        s.frame_no |= static_cast<uint32_t>(bytes[8 + i]) << (8 * i);
    return s;
}

void draw_test_picture(uint8_t* y, int y_stride, uint8_t* uv, int uv_stride, int width, int height,
                       uint32_t k) {
    // A soft diagonal triangle wave scrolling by 4 pixels a frame.
    thread_local std::vector<uint8_t> wave;
    if (wave.size() < static_cast<size_t>(width + 256)) {
        wave.resize(static_cast<size_t>(width + 256));
        for (size_t i = 0; i < wave.size(); ++i) {
            const int t = static_cast<int>(i % 256);
            wave[i] = static_cast<uint8_t>(48 + (t < 128 ? t : 255 - t));
        }
    }
    for (int r = 0; r < height; ++r)
        std::memcpy(y + r * y_stride, wave.data() + ((r + 4 * static_cast<int>(k % 64)) & 255),
                    static_cast<size_t>(width));
    // A coloured box crossing the picture.
    const int box = std::min(height / 4, 128) & ~1;
    const int span = std::max(2, width - box);
    const int bx = static_cast<int>((k * 8) % static_cast<uint32_t>(span)) & ~1;
    const int by = (height / 2) & ~1;
    for (int r = 0; r < height / 2; ++r) {
        uint8_t* row = uv + r * uv_stride;
        std::memset(row, 128, static_cast<size_t>(width));
        if (r * 2 >= by && r * 2 < by + box) {
            for (int c = bx; c < bx + box && c + 1 < width; c += 2) {
                row[c] = 200;    // U
                row[c + 1] = 90; // V
            }
        }
    }
}

} // namespace hdext::sim
