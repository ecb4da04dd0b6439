// Draws the RX status pictures (1920x1080: dark background, a simple icon, English text in the
// Unifont bitmap font) and writes them as baseline JPEG files through libavcodec's encoder.
//   make_status_pictures OUT_DIR [UNIFONT_HEX]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace {

constexpr int kW = 1920;
constexpr int kH = 1080;

struct Yuv {
    uint8_t y, u, v;
};
constexpr Yuv kBackground{22, 128, 128};
constexpr Yuv kText{235, 128, 128};
constexpr Yuv kAccent{150, 170, 60}; // cyan-ish
constexpr Yuv kWarn{160, 60, 175};   // amber
constexpr Yuv kDim{70, 128, 128};
constexpr Yuv kHint{170, 128, 128};

class Canvas {
public:
    explicit Canvas(AVFrame* f) : m_f(f) { fill(0, 0, kW, kH, kBackground); }
    void dot(int x, int y, Yuv c) {
        if (x < 0 || y < 0 || x >= kW || y >= kH) return;
        m_f->data[0][y * m_f->linesize[0] + x] = c.y;
        m_f->data[1][(y / 2) * m_f->linesize[1] + x / 2] = c.u;
        m_f->data[2][(y / 2) * m_f->linesize[2] + x / 2] = c.v;
    }
    void fill(int x, int y, int w, int h, Yuv c) {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) dot(i, j, c);
    }
    // Ring between radii r0 and r1, only where the angle (degrees, 0 = up, clockwise) is in [a0, a1].
    void arc(int cx, int cy, int r0, int r1, double a0, double a1, Yuv c) {
        for (int j = cy - r1; j <= cy + r1; ++j)
            for (int i = cx - r1; i <= cx + r1; ++i) {
                const double dx = i - cx, dy = j - cy, d = std::sqrt(dx * dx + dy * dy);
                double a = std::atan2(dx, -dy) * 180.0 / M_PI;
                if (a < 0) a += 360.0;
                if (d >= r0 && d <= r1 && a >= a0 && a <= a1) dot(i, j, c);
            }
    }
    void frame(int x, int y, int w, int h, int t, Yuv c) {
        fill(x, y, w, t, c);
        fill(x, y + h - t, w, t, c);
        fill(x, y, t, h, c);
        fill(x + w - t, y, t, h, c);
    }
    void line(int x0, int y0, int x1, int y1, int t, Yuv c) {
        const int n = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        for (int k = 0; k <= n; ++k) {
            const int x = x0 + (x1 - x0) * k / std::max(n, 1), y = y0 + (y1 - y0) * k / std::max(n, 1);
            fill(x - t / 2, y - t / 2, t, t, c);
        }
    }

private:
    AVFrame* m_f;
};

// Unifont: "CODE:HEX" lines, 8x16 glyphs as 32 hex digits.
std::map<char, std::vector<uint8_t>> load_font(const std::string& path) {
    std::map<char, std::vector<uint8_t>> glyphs;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const unsigned code = std::stoul(line.substr(0, colon), nullptr, 16);
        const std::string hex = line.substr(colon + 1);
        if (code < 0x20 || code > 0x7e || hex.size() != 32) continue;
        std::vector<uint8_t> rows;
        for (size_t i = 0; i < 32; i += 2) rows.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        glyphs[static_cast<char>(code)] = rows;
    }
    return glyphs;
}

void text(Canvas& c, const std::map<char, std::vector<uint8_t>>& font, const std::string& s, int cy, int scale,
          Yuv col) {
    const int w = static_cast<int>(s.size()) * 8 * scale;
    int x = (kW - w) / 2;
    for (char ch : s) {
        auto g = font.find(ch);
        if (g != font.end())
            for (int r = 0; r < 16; ++r)
                for (int b = 0; b < 8; ++b)
                    if (g->second[r] & (0x80 >> b)) c.fill(x + b * scale, cy + r * scale, scale, scale, col);
        x += 8 * scale;
    }
}

// Icons centred at (960, 380).
void icon_searching(Canvas& c) { // Wi-Fi arcs
    for (int k = 0; k < 3; ++k) {
        c.arc(960, 480, 70 + k * 70, 110 + k * 70, 0, 45, kAccent);
        c.arc(960, 480, 70 + k * 70, 110 + k * 70, 315, 360, kAccent);
    }
    c.arc(960, 480, 0, 30, 0, 360, kAccent);
}
void icon_check_hdmi(Canvas& c) { // a connector outline with a warning mark
    c.frame(760, 290, 400, 180, 16, kWarn);
    c.fill(800, 340, 320, 16, kDim);
    c.fill(800, 400, 320, 16, kDim);
    c.fill(950, 480, 20, 60, kWarn);
    c.fill(950, 555, 20, 20, kWarn);
}
void icon_pairing(Canvas& c) { // two linked rings
    c.arc(870, 400, 80, 110, 0, 360, kAccent);
    c.arc(1050, 400, 80, 110, 0, 360, kAccent);
}
void icon_is_pairing(Canvas& c) { // two rings with a progress arc
    c.arc(870, 400, 80, 110, 0, 360, kDim);
    c.arc(1050, 400, 80, 110, 0, 360, kDim);
    c.arc(960, 400, 200, 222, 0, 270, kAccent);
}
void icon_no_signal(Canvas& c) { // a screen, crossed out
    c.frame(760, 250, 400, 260, 16, kDim);
    c.fill(930, 510, 60, 40, kDim);
    c.fill(860, 550, 200, 16, kDim);
    c.line(800, 290, 1120, 470, 18, kWarn);
    c.line(1120, 290, 800, 470, 18, kWarn);
}

struct Screen {
    const char* file;
    void (*icon)(Canvas&);
    const char* title;
    const char* hint;
};
const Screen kScreens[] = {
    {"RX_Searching.jpg", icon_searching, "Searching for transmitter", "Make sure the transmitter is powered on"},
    {"RX_CHECK_HDMI.jpg", icon_check_hdmi, "Check HDMI source", "The transmitter has no input signal"},
    {"RX_Pairing.jpg", icon_pairing, "Not paired", "Press the pair button on both units"},
    {"RX_isPairing.jpg", icon_is_pairing, "Pairing...", "Keep both units close together"},
    {"RX_NoSignal.jpg", icon_no_signal, "No signal", "No video is arriving from the transmitter"},
};

bool encode(AVFrame* f, const std::string& path) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!ctx) return false;
    ctx->width = kW;
    ctx->height = kH;
    ctx->pix_fmt = AV_PIX_FMT_YUVJ420P;
    ctx->time_base = {1, 25};
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = FF_QP2LAMBDA * 4;
    f->quality = ctx->global_quality;
    bool ok = avcodec_open2(ctx, codec, nullptr) == 0 && avcodec_send_frame(ctx, f) == 0;
    AVPacket* pkt = av_packet_alloc();
    ok = ok && avcodec_receive_packet(ctx, pkt) == 0;
    if (ok) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(pkt->data), pkt->size);
        ok = static_cast<bool>(out);
        std::printf("%s: %d bytes\n", path.c_str(), pkt->size);
    }
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR [UNIFONT_HEX]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const auto font = load_font(argc > 2 ? argv[2] : "/usr/share/unifont/unifont.hex");
    if (font.size() < 90) {
        std::fprintf(stderr, "cannot read the Unifont glyphs\n");
        return 1;
    }
    for (const Screen& s : kScreens) {
        AVFrame* f = av_frame_alloc();
        f->format = AV_PIX_FMT_YUVJ420P;
        f->width = kW;
        f->height = kH;
        if (av_frame_get_buffer(f, 32) < 0) return 1;
        Canvas c(f);
        s.icon(c);
        text(c, font, s.title, 660, 6, kText);
        text(c, font, s.hint, 800, 3, kHint);
        const bool ok = encode(f, dir + "/" + s.file);
        av_frame_free(&f);
        if (!ok) {
            std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), s.file);
            return 1;
        }
    }
    return 0;
}
