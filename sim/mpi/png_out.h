// A decoded picture as a small PNG (scaled to at most max_width pixels wide).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
struct AVFrame;
}

namespace hdext::sim {
// The PNG's bytes; empty when the picture cannot be converted.
std::vector<uint8_t> png_snapshot(const AVFrame* frame, int max_width);
}
