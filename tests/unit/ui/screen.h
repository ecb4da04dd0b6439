// Reading the simulated OLED in UI tests: page bytes of the visible panel, and comparisons
// with what the fonts and icons should put at a drawing position.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/devices/oled_model.h"
#include "ui/fonts.h"

namespace hdext::test {

// The column a drawing at x starts on (the driver's low-column rule).
inline int col(int x) { return (x & 0xF0) | (x & 0x0E) | 1; }

struct Screen {
    sim::OledPixels px;
    int byte(int page, int c) const {
        if (c < 0 || c >= sim::kOledWidth) return 0;
        int b = 0;
        for (int r = 0; r < 8; ++r) b |= px[static_cast<size_t>((page * 8 + r) * sim::kOledWidth + c)] << r;
        return b;
    }
    // True when the n bytes of bmp are what columns col(x).. of `page` show.
    bool shows(int x, int page, const unsigned char* bmp, int n) const {
        for (int i = 0; i < n; ++i)
            if (byte(page, col(x) + i) != bmp[i]) return false;
        return true;
    }
    bool bitmap(int x0, int page0, int x1, int page1, const unsigned char* bmp) const {
        for (int p = page0; p < page1; ++p, bmp += x1 - x0)
            if (!shows(x0, p, bmp, x1 - x0)) return false;
        return true;
    }
    // ASCII text drawn at (x, page) in the 8x16 (size 2) or 6x8 (size 1) font, no wrapping.
    bool text(int x, int page, const char* s, int size = 2) const {
        for (; *s; ++s) {
            const int c = static_cast<unsigned char>(*s);
            if (size == 2) {
                const unsigned char* g = FONT8x16ASCII[c - 0x20];
                if (!shows(x, page, g, 8) || !shows(x, page + 1, g + 8, 8)) return false;
                x += 8;
            } else {
                if (!shows(x, page, FONT6x8ASCII[c - 0x20], 6)) return false;
                x += 6;
            }
        }
        return true;
    }
    // GB2312 text in the 16x16 glyphs.
    bool hz(int x, int page, const char* s) const {
        for (auto p = reinterpret_cast<const unsigned char*>(s); p[0] >= 0x80; p += 2, x += 16) {
            int k = 0;
            for (int i = 0; i < kHzEntries; ++i)
                if (HZIndex[i][0] == p[0] && HZIndex[i][1] == p[1]) k = i;
            if (k == 0 || !shows(x, page, HZTable[k], 16) || !shows(x, page + 1, HZTable[k] + 16, 16))
                return false;
        }
        return true;
    }
    bool blank(int x0, int page0, int x1, int page1) const {
        for (int p = page0; p < page1; ++p)
            for (int c = x0; c < x1; ++c)
                if (byte(p, c)) return false;
        return true;
    }
    int lit() const {
        int n = 0;
        for (auto v : px) n += v;
        return n;
    }
};

// Writes the screen as <HDEXT_UI_SCREENSHOTS>/<name>/oled.png when that variable is set (how
// the README's example screens are made).
inline void keep_screenshot(const Screen& s, const std::string& name) {
    if (const char* dir = std::getenv("HDEXT_UI_SCREENSHOTS")) sim::write_oled_files(s.px, std::string(dir) + "/" + name);
}

} // namespace hdext::test
