// Writes a decoded picture as a small PNG (scaled to at most max_width pixels wide).
#pragma once
#include <string>

extern "C" {
struct AVFrame;
}

namespace hdext::sim {
bool write_png_snapshot(const AVFrame* frame, const std::string& board_path, int max_width);
}
