#include "media/g711.h"

namespace {

// Branch-free segment conversions: the loops below vectorise (AVX2 where the CPU has it).
constexpr int kULawBias = 132;
constexpr int kULawClip = 32512;

inline unsigned char alaw_encode(int sample) {
    const int v = sample >> 3;
    const int neg = v >> 31; // -1 for negative samples
    const int mag = v ^ neg; // v, or -v - 1
    const int seg = (mag >= 32) + (mag >= 64) + (mag >= 128) + (mag >= 256) + (mag >= 512) +
                    (mag >= 1024) + (mag >= 2048);
    const int shift = seg + (seg == 0); // segments 0 and 1 both drop one bit
    const int code = (seg << 4) | ((mag >> shift) & 0x0F);
    return static_cast<unsigned char>(code ^ (0xD5 ^ (neg & 0x80)));
}

inline short alaw_decode(unsigned char c) {
    const int a = c ^ 0x55;
    const int seg = (a >> 4) & 7;
    const int t = (((a & 0x0F) << 4) + (seg ? 0x108 : 8)) << (seg ? seg - 1 : 0);
    return static_cast<short>((a & 0x80) ? t : -t);
}

inline unsigned char ulaw_encode(int sample) {
    const int neg = sample >> 31;
    int mag = ((sample ^ neg) - neg) + kULawBias;
    mag = mag > kULawClip ? kULawClip : mag;
    const int seg = (mag >= 0x100) + (mag >= 0x200) + (mag >= 0x400) + (mag >= 0x800) +
                    (mag >= 0x1000) + (mag >= 0x2000) + (mag >= 0x4000);
    const int code = (seg << 4) | ((mag >> (seg + 3)) & 0x0F);
    return static_cast<unsigned char>(code ^ (0xFF ^ (neg & 0x80)));
}

inline short ulaw_decode(unsigned char c) {
    const int u = ~c & 0xFF;
    const int t = (((u & 0x0F) << 3) + kULawBias) << ((u & 0x70) >> 4);
    return static_cast<short>((u & 0x80) ? (kULawBias - t) : (t - kULawBias));
}

} // namespace

// ThreadSanitizer builds crash in the clones' resolver, which runs before the sanitizer is up.
#if defined(__SANITIZE_THREAD__)
#define G711_LOOP
#else
#define G711_LOOP __attribute__((target_clones("avx2", "default")))
#endif

unsigned char ALawEncode(short sample) {
    return alaw_encode(sample);
}
short ALawDecode(unsigned char code) {
    return alaw_decode(code);
}
unsigned char ULawEncode(short sample) {
    return ulaw_encode(sample);
}
short ULawDecode(unsigned char code) {
    return ulaw_decode(code);
}

unsigned char ALawToULaw(unsigned char code) {
    return ULawEncode(ALawDecode(code));
}
unsigned char ULawToALaw(unsigned char code) {
    return ALawEncode(ULawDecode(code));
}

G711_LOOP int G711ALawEncode(unsigned char* dst, const short* src, unsigned bytes) {
    const unsigned n = bytes / 2;
    for (unsigned i = 0; i < n; ++i)
        dst[i] = alaw_encode(src[i]);
    return static_cast<int>(n);
}

G711_LOOP int G711ULawEncode(unsigned char* dst, const short* src, unsigned bytes) {
    const unsigned n = bytes / 2;
    for (unsigned i = 0; i < n; ++i)
        dst[i] = ulaw_encode(src[i]);
    return static_cast<int>(n);
}

G711_LOOP int G711ALawDecode(short* dst, const unsigned char* src, unsigned n) {
    for (unsigned i = 0; i < n; ++i)
        dst[i] = alaw_decode(src[i]);
    return static_cast<int>(2 * n);
}

G711_LOOP int G711ULawDecode(short* dst, const unsigned char* src, unsigned n) {
    for (unsigned i = 0; i < n; ++i)
        dst[i] = ulaw_decode(src[i]);
    return static_cast<int>(2 * n);
}

int G711ALawToULaw(unsigned char* dst, const unsigned char* src, unsigned n) {
    for (unsigned i = 0; i < n; ++i)
        dst[i] = ALawToULaw(src[i]);
    return static_cast<int>(n);
}

int G711ULawToALaw(unsigned char* dst, const unsigned char* src, unsigned n) {
    for (unsigned i = 0; i < n; ++i)
        dst[i] = ULawToALaw(src[i]);
    return static_cast<int>(n);
}
