#include "media/g711.h"

namespace {

// Index of the first segment end that v does not exceed; 8 when above them all.
inline int segment(int v, int first_end) {
    int seg = 0;
    int end = first_end;
    while (seg < 8 && v > end) {
        end = (end << 1) | 1;
        ++seg;
    }
    return seg;
}

constexpr int kULawBias = 132;
constexpr int kULawClip = 32512;

} // namespace

unsigned char ALawEncode(short sample) {
    int v = sample >> 3;
    int mask = 0xD5;
    if (v < 0) {
        mask = 0x55;
        v = -v - 1;
    }
    const int seg = segment(v, 0x1F);
    if (seg >= 8) return static_cast<unsigned char>(0x7F ^ mask);
    int code = seg << 4;
    code |= (seg < 2 ? (v >> 1) : (v >> seg)) & 0x0F;
    return static_cast<unsigned char>(code ^ mask);
}

short ALawDecode(unsigned char code) {
    const int a = code ^ 0x55;
    int t = (a & 0x0F) << 4;
    const int seg = (a & 0x70) >> 4;
    if (seg == 0) {
        t += 8;
    } else {
        t += 0x108;
        if (seg > 1) t <<= seg - 1;
    }
    return static_cast<short>((a & 0x80) ? t : -t);
}

unsigned char ULawEncode(short sample) {
    int v = sample;
    int mask = 0xFF;
    if (v < 0) {
        v = -v;
        mask = 0x7F;
    }
    v += kULawBias;
    if (v > kULawClip) v = kULawClip;
    const int seg = segment(v >> 7, 0x01) ; // segment ends 0xFF, 0x1FF, ... in 16-bit terms
    const int code = (seg << 4) | ((v >> (seg + 3)) & 0x0F);
    return static_cast<unsigned char>(code ^ mask);
}

short ULawDecode(unsigned char code) {
    const int u = ~code & 0xFF;
    int t = ((u & 0x0F) << 3) + kULawBias;
    t <<= (u & 0x70) >> 4;
    return static_cast<short>((u & 0x80) ? (kULawBias - t) : (t - kULawBias));
}

unsigned char ALawToULaw(unsigned char code) { return ULawEncode(ALawDecode(code)); }
unsigned char ULawToALaw(unsigned char code) { return ALawEncode(ULawDecode(code)); }

int G711ALawEncode(unsigned char* dst, const short* src, unsigned bytes) {
    const unsigned n = bytes / 2;
    for (unsigned i = 0; i < n; ++i) dst[i] = ALawEncode(src[i]);
    return static_cast<int>(n);
}

int G711ULawEncode(unsigned char* dst, const short* src, unsigned bytes) {
    const unsigned n = bytes / 2;
    for (unsigned i = 0; i < n; ++i) dst[i] = ULawEncode(src[i]);
    return static_cast<int>(n);
}

int G711ALawDecode(short* dst, const unsigned char* src, unsigned n) {
    for (unsigned i = 0; i < n; ++i) dst[i] = ALawDecode(src[i]);
    return static_cast<int>(2 * n);
}

int G711ULawDecode(short* dst, const unsigned char* src, unsigned n) {
    for (unsigned i = 0; i < n; ++i) dst[i] = ULawDecode(src[i]);
    return static_cast<int>(2 * n);
}

int G711ALawToULaw(unsigned char* dst, const unsigned char* src, unsigned n) {
    for (unsigned i = 0; i < n; ++i) dst[i] = ALawToULaw(src[i]);
    return static_cast<int>(n);
}

int G711ULawToALaw(unsigned char* dst, const unsigned char* src, unsigned n) {
    for (unsigned i = 0; i < n; ++i) dst[i] = ULawToALaw(src[i]);
    return static_cast<int>(n);
}
