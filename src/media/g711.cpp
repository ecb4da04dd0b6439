#include "media/g711.h"

namespace {

// Branch-free segment conversions, so the loops below vectorise.
constexpr int kULawBias = 132;
constexpr int kULawClip = 32512;

[[gnu::always_inline]] inline unsigned char alaw_encode(int sample) {
    const int v = sample >> 3;
    const int neg = v >> 31; // -1 for negative samples
    const int mag = v ^ neg; // v, or -v - 1
    const int seg = (mag >= 32) + (mag >= 64) + (mag >= 128) + (mag >= 256) + (mag >= 512) +
                    (mag >= 1024) + (mag >= 2048);
    const int shift = seg + (seg == 0); // segments 0 and 1 both drop one bit
    const int code = (seg << 4) | ((mag >> shift) & 0x0F);
    return static_cast<unsigned char>(code ^ (0xD5 ^ (neg & 0x80)));
}

[[gnu::always_inline]] inline short alaw_decode(unsigned char c) {
    const int a = c ^ 0x55;
    const int seg = (a >> 4) & 7;
    const int t = (((a & 0x0F) << 4) + (seg ? 0x108 : 8)) << (seg ? seg - 1 : 0);
    return static_cast<short>((a & 0x80) ? t : -t);
}

[[gnu::always_inline]] inline unsigned char ulaw_encode(int sample) {
    const int neg = sample >> 31;
    int mag = ((sample ^ neg) - neg) + kULawBias;
    mag = mag > kULawClip ? kULawClip : mag;
    const int seg = (mag >= 0x100) + (mag >= 0x200) + (mag >= 0x400) + (mag >= 0x800) +
                    (mag >= 0x1000) + (mag >= 0x2000) + (mag >= 0x4000);
    const int code = (seg << 4) | ((mag >> (seg + 3)) & 0x0F);
    return static_cast<unsigned char>(code ^ (0xFF ^ (neg & 0x80)));
}

[[gnu::always_inline]] inline short ulaw_decode(unsigned char c) {
    const int u = ~c & 0xFF;
    const int t = (((u & 0x0F) << 3) + kULawBias) << ((u & 0x70) >> 4);
    return static_cast<short>((u & 0x80) ? (kULawBias - t) : (t - kULawBias));
}

} // namespace


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

namespace {

template <auto Convert, class Out, class In>
[[gnu::always_inline]] inline void convert_block(Out* dst, const In* src, unsigned n) {
    for (unsigned i = 0; i < n; ++i)
        dst[i] = Convert(src[i]);
}

// The segment arithmetic vectorises well only with AVX2; the variant is chosen once, by a
// plain CPU check rather than an ifunc, which sanitizer builds and clang do not all handle.
// On the units' arm64 the plain loop already gets Advanced SIMD, which every such CPU has.
#if defined(__x86_64__)
#define G711_AVX2 [[gnu::target("avx2")]]
#else
#define G711_AVX2
#endif
#define G711_BLOCK(name, convert, Out, In)                                                   \
    G711_AVX2 void name##_avx2(Out* d, const In* s, unsigned n) {                            \
        convert_block<convert>(d, s, n);                                                     \
    }                                                                                        \
    void name##_base(Out* d, const In* s, unsigned n) { convert_block<convert>(d, s, n); }

G711_BLOCK(alaw_enc, alaw_encode, unsigned char, short)
G711_BLOCK(ulaw_enc, ulaw_encode, unsigned char, short)
G711_BLOCK(alaw_dec, alaw_decode, short, unsigned char)
G711_BLOCK(ulaw_dec, ulaw_decode, short, unsigned char)
#undef G711_BLOCK
#undef G711_AVX2

bool has_avx2() {
#if defined(__x86_64__)
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
#else
    return false;
#endif
}

} // namespace

int G711ALawEncode(unsigned char* dst, const short* src, unsigned bytes) {
    const unsigned n = bytes / 2;
    (has_avx2() ? alaw_enc_avx2 : alaw_enc_base)(dst, src, n);
    return static_cast<int>(n);
}

int G711ULawEncode(unsigned char* dst, const short* src, unsigned bytes) {
    const unsigned n = bytes / 2;
    (has_avx2() ? ulaw_enc_avx2 : ulaw_enc_base)(dst, src, n);
    return static_cast<int>(n);
}

int G711ALawDecode(short* dst, const unsigned char* src, unsigned n) {
    (has_avx2() ? alaw_dec_avx2 : alaw_dec_base)(dst, src, n);
    return static_cast<int>(2 * n);
}

int G711ULawDecode(short* dst, const unsigned char* src, unsigned n) {
    (has_avx2() ? ulaw_dec_avx2 : ulaw_dec_base)(dst, src, n);
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
