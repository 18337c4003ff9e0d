// AVX-512 kernels (with the VBMI and VBMI2 byte permutes and funnel shifts) for 24-bit pixel rows: sixty-four pixels (192 bytes, three whole vectors) per
// step. Byte permutes across a whole vector (VBMI) take the place of the shuffle-and-merge of the
// narrower kernels: the grey levels of 64 pixels cost five permutes, and an encoded pixel
// (flag, grey, byte 2) is put back with one permute and one logic step per vector. Used only when
// the processor has these instructions (hasAvx512()); every caller keeps the narrower paths.
#pragma once

#include <immintrin.h>

#include <cstdint>

#define LUMO_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")))

namespace lumo::simd {

inline bool hasAvx512() {
    static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
                            __builtin_cpu_supports("avx512vbmi2") &&
                            __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    return yes;
}

// Index vectors of the 64-pixel kernels.
struct WideTables {
    // (blue, green) byte pairs and (red, -) pairs of pixels 0..31 from vectors 0 and 1, and of
    // pixels 32..63 from vectors 1 and 2, as 16-bit lanes.
    alignas(64) uint8_t bg[2][64];
    alignas(64) uint8_t r[2][64];
    alignas(64) uint8_t low[64];  // the low bytes of two vectors of 16-bit lanes, in lane order
    // Output vector v: the grey level of its pixels' byte 1 (from a vector of 64 levels), the
    // value 1 in byte 0, and which bytes are byte 2 (kept) and byte 1 (placed).
    alignas(64) uint8_t place[3][64];
    alignas(64) uint8_t place02[3][64];  // byte 0 from the first of two vectors, byte 2 from the second
    alignas(64) uint8_t ones[3][64];
    alignas(64) uint8_t keep2[3][64];
    uint64_t greyBytes[3];
    uint64_t flagBytes[3];
    uint64_t redBytes[3];
    constexpr WideTables()
        : bg{}, r{}, low{}, place{}, place02{}, ones{}, keep2{}, greyBytes{}, flagBytes{}, redBytes{} {
        for (int h = 0; h < 2; ++h)
            for (int j = 0; j < 32; ++j) {
                const int base = 3 * (32 * h + j) - 64 * h;  // byte of pixel 32h + j in vectors h, h + 1
                bg[h][2 * j] = uint8_t(base);
                bg[h][2 * j + 1] = uint8_t(base + 1);
                r[h][2 * j] = uint8_t(base + 2);
                r[h][2 * j + 1] = 0;
            }
        for (int j = 0; j < 64; ++j) low[j] = uint8_t(j < 32 ? 2 * j : 64 + 2 * (j - 32));
        for (int v = 0; v < 3; ++v)
            for (int i = 0; i < 64; ++i) {
                const int at = 64 * v + i, pixel = at / 3, byte = at % 3;
                place[v][i] = uint8_t(pixel);
                place02[v][i] = uint8_t(byte == 2 ? 64 + pixel : pixel);
                ones[v][i] = byte == 0 ? 1 : 0;
                keep2[v][i] = byte == 2 ? 0xFF : 0;
                if (byte == 0) flagBytes[v] |= uint64_t{1} << i;
                if (byte == 1) greyBytes[v] |= uint64_t{1} << i;
                if (byte == 2) redBytes[v] |= uint64_t{1} << i;
            }
    }
};
inline constexpr WideTables kWide;

LUMO_AVX512 inline __m512i table(const uint8_t* t) { return _mm512_load_si512(t); }

// Byte permute of a (the unmasked intrinsic starts from an undefined vector, which GCC 12 warns
// about; a zeroing one with every lane selected is the same instruction).
LUMO_AVX512 inline __m512i permute(__m512i idx, __m512i a) { return _mm512_maskz_permutexvar_epi8(~__mmask64{0}, idx, a); }

// The 192 bytes of 64 pixels.
struct Raw3 {
    __m512i a0, a1, a2;
};

LUMO_AVX512 inline Raw3 load192(const uint8_t* p) {
    return {_mm512_loadu_si512(p), _mm512_loadu_si512(p + 64), _mm512_loadu_si512(p + 128)};
}

LUMO_AVX512 inline void store192(uint8_t* p, const Raw3& v) {
    _mm512_storeu_si512(p, v.a0);
    _mm512_storeu_si512(p + 64, v.a1);
    _mm512_storeu_si512(p + 128, v.a2);
}

// Grey levels (b + g + r) / 3 of 64 pixels, in pixel order (sum * 21846 >> 16 equals sum / 3 for
// every sum up to 765).
LUMO_AVX512 inline __m512i grey64(const Raw3& w) {
    const __m512i ones = _mm512_set1_epi8(1), third = _mm512_set1_epi16(21846);
    const __m512i bg0 = _mm512_permutex2var_epi8(w.a0, table(kWide.bg[0]), w.a1);
    const __m512i bg1 = _mm512_permutex2var_epi8(w.a1, table(kWide.bg[1]), w.a2);
    const __mmask64 even = 0x5555555555555555ull;
    const __m512i r0 = _mm512_maskz_permutex2var_epi8(even, w.a0, table(kWide.r[0]), w.a1);
    const __m512i r1 = _mm512_maskz_permutex2var_epi8(even, w.a1, table(kWide.r[1]), w.a2);
    const __m512i s0 = _mm512_add_epi16(_mm512_maddubs_epi16(bg0, ones), r0);
    const __m512i s1 = _mm512_add_epi16(_mm512_maddubs_epi16(bg1, ones), r1);
    return _mm512_permutex2var_epi8(_mm512_mulhi_epu16(s0, third), table(kWide.low), _mm512_mulhi_epu16(s1, third));
}

// Output vector v of 64 encoded pixels: byte 0 = flags (bytes of the vector `flags`, one per
// pixel), byte 1 = the grey level, byte 2 = the same byte of `keep` (raw vector v).
LUMO_AVX512 inline __m512i placeEncoded(int v, __m512i grey, __m512i flags, __m512i keep) {
    const __m512i idx = table(kWide.place[v]);
    const __m512i fg = _mm512_mask_permutexvar_epi8(_mm512_maskz_permutexvar_epi8(kWide.flagBytes[v], idx, flags),
                                                    kWide.greyBytes[v], idx, grey);
    return _mm512_ternarylogic_epi64(keep, table(kWide.keep2[v]), fg, 0xEA);  // (keep & mask) | fg
}

// The same with every flag 1: one permute fewer.
LUMO_AVX512 inline __m512i placeGrey(int v, __m512i grey, __m512i keep) {
    const __m512i fg = _mm512_mask_permutexvar_epi8(table(kWide.ones[v]), kWide.greyBytes[v], table(kWide.place[v]), grey);
    return _mm512_ternarylogic_epi64(keep, table(kWide.keep2[v]), fg, 0xEA);
}

// Output vector v of 64 pixels whose bytes 0, 1 and 2 are the bytes of b0, b1 and b2.
LUMO_AVX512 inline __m512i interleave3(int v, __m512i b0, __m512i b1, __m512i b2) {
    const __m512i outer = _mm512_permutex2var_epi8(b0, table(kWide.place02[v]), b2);
    return _mm512_mask_permutexvar_epi8(outer, kWide.greyBytes[v], table(kWide.place[v]), b1);
}

// Output vector v of 64 pixels (1, grey level, 0).
LUMO_AVX512 inline __m512i placeGreyOnly(int v, __m512i grey) {
    return _mm512_mask_permutexvar_epi8(table(kWide.ones[v]), kWide.greyBytes[v], table(kWide.place[v]), grey);
}

// Byte 2 of output vector v's pixels from the bytes `b2` (one per pixel), bytes 0 and 1 from base.
LUMO_AVX512 inline __m512i placeByte2(int v, __m512i base, __m512i b2) {
    return _mm512_mask_permutexvar_epi8(base, kWide.redBytes[v], table(kWide.place[v]), b2);
}

// Byte 0 of output vector v's pixels from the bytes `b0`, the others from base.
LUMO_AVX512 inline __m512i placeByte0(int v, __m512i base, __m512i b0) {
    return _mm512_mask_permutexvar_epi8(base, kWide.flagBytes[v], table(kWide.place[v]), b0);
}

}  // namespace lumo::simd
