#include "sim/mpi/png_out.h"
#include <cstdio>
#include <png.h>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace hdext::sim {

namespace {
void append_png(png_structp png, png_bytep data, png_size_t len) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + len);
}
void flush_png(png_structp) {}

struct RgbImage {
    const uint8_t* rgb;
    int w, h;
};

// Nothing here changes after setjmp: libpng's error path jumps back into this frame.
bool encode_png(const RgbImage* img, std::vector<uint8_t>* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, append_png, flush_png);
    png_set_IHDR(png, info, static_cast<png_uint_32>(img->w), static_cast<png_uint_32>(img->h), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    for (int r = 0; r < img->h; ++r)
        png_write_row(png, img->rgb + static_cast<size_t>(r) * static_cast<size_t>(img->w) * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}
} // namespace

std::vector<uint8_t> png_snapshot(const AVFrame* frame, int max_width) {
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return {};
    int w = frame->width;
    int h = frame->height;
    if (w > max_width) {
        h = static_cast<int>(static_cast<long>(h) * max_width / w) & ~1;
        w = max_width;
    }
    SwsContext* sws =
        sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), w, h,
                       AV_PIX_FMT_RGB24, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws)
        return {};
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
    uint8_t* dst[4] = {rgb.data(), nullptr, nullptr, nullptr};
    int dst_stride[4] = {w * 3, 0, 0, 0};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dst_stride);
    sws_freeContext(sws);

    std::vector<uint8_t> out;
    const RgbImage img{rgb.data(), w, h};
    if (!encode_png(&img, &out))
        return {};
    return out;
}

} // namespace hdext::sim
