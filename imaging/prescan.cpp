// The pre-scan (pixel encoding, histogram, automatic threshold, marker), its three effects
// (Erase Grid Lines, Outline Mode, Character Mode) and lumoFindDot. Everything works in place on
// the image; byte 2 of each pixel is the effects' work area.
#include <algorithm>
#include <cstring>

#include "imaging/scan.h"
#include "imaging/simd_pixels.h"

using namespace lumo;

namespace {

// Conversion of one row: byte 0 = qualifies under C, byte 1 = grey level.
template <int C>
void encodeRow(uint8_t* p, int32_t n) {
    for (int32_t i = 0; i < n; ++i, p += 3) {
        const int b = p[0], g = p[1], r = p[2];
        p[0] = static_cast<uint8_t>(colourOk<C>(b, g, r));
        p[1] = static_cast<uint8_t>((b + g + r) / 3);
    }
}

// Counts encoded pixels into four partial histograms (so runs of one level, such as a plain
// background, do not serialise on one counter); returns how many qualified.
inline uint32_t countPixels(const uint8_t* p, int32_t n, uint32_t (*part)[256]) {
    uint32_t qualified = 0;
    int32_t i = 0;
    for (; i + 4 <= n; i += 4, p += 12) {
        part[0][p[1]] += p[0];
        part[1][p[4]] += p[3];
        part[2][p[7]] += p[6];
        part[3][p[10]] += p[9];
        qualified += p[0] + p[3] + p[6] + p[9];
    }
    for (; i < n; ++i, p += 3) {
        part[0][p[1]] += p[0];
        qualified += p[0];
    }
    return qualified;
}

// Converts n pixels sixteen at a time (grey = sum * 21846 >> 16, which equals sum / 3 for every
// sum up to 765) and, with Count, adds them to the histogram: a block of sixteen equal pixels
// is counted at once. Returns how many qualified.
template <int C, bool Count>
LUMO_SSSE3 uint32_t encodeSimd(uint8_t* p, int32_t n, uint32_t (*part)[256]) {
    const __m128i third = _mm_set1_epi16(21846), one = _mm_set1_epi8(1);
    uint32_t qualified = 0;
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        simd::Planes s = simd::split(p + 3 * i);
        __m128i low, high;
        simd::sums(s, low, high);
        const __m128i grey = _mm_packus_epi16(_mm_mulhi_epu16(low, third), _mm_mulhi_epu16(high, third));
        const __m128i flag = _mm_and_si128(simd::colourMask<C>(s), one);
        s.c0 = flag;
        s.c1 = grey;
        simd::merge(p + 3 * i, s);
        if constexpr (Count) {
            // Sixteen pixels of one level and one flag: every byte equal to the first one.
            const __m128i first = _mm_shuffle_epi8(grey, _mm_setzero_si128());
            const __m128i firstFlag = _mm_shuffle_epi8(flag, _mm_setzero_si128());
            const bool uniform = _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(grey, first), _mm_cmpeq_epi8(flag, firstFlag))) == 0xFFFF;
            if (uniform) {
                const uint32_t f = static_cast<uint32_t>(_mm_cvtsi128_si32(flag) & 1);
                part[0][_mm_cvtsi128_si32(grey) & 255] += 16 * f;
                qualified += 16 * f;
            } else {
                qualified += countPixels(p + 3 * i, 16, part);
            }
        }
    }
    encodeRow<C>(p + 3 * i, n - i);
    if constexpr (Count) qualified += countPixels(p + 3 * i, n - i, part);
    return qualified;
}

// AVX2 without a colour box: every flag is 1, so the sums come straight from the raw bytes and
// only the grey bytes are shuffled back in (the red bytes are kept, the flag bytes set).
template <bool Count>
LUMO_AVX2 uint32_t encodeGreyAvx2(uint8_t* p, int32_t n, uint32_t (*part)[256]) {
    const __m256i third = _mm256_set1_epi16(21846), z = _mm256_setzero_si256();
    __m256i keep[3], flags[3];
    for (int v = 0; v < 3; ++v) {
        keep[v] = simd::mask2(simd::kSumMasks.keep[v]);
        // Flag bytes: the positions of plane 0 in output vector v.
        alignas(16) uint8_t f[16];
        for (int j = 0; j < 16; ++j) f[j] = (16 * v + j) % 3 == 0 ? 1 : 0;
        flags[v] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(f)));
    }
    uint32_t qualified = 0;
    int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        uint8_t* a = p + 3 * i;
        uint8_t* b = a + 48;
        const simd::Raw2 w = simd::loadRaw2(a, b);
        __m256i low, high;
        simd::rawSums2(w, low, high);
        const __m256i grey = _mm256_packus_epi16(_mm256_mulhi_epu16(low, third), _mm256_mulhi_epu16(high, third));
        const __m256i raw[3] = {w.a0, w.a1, w.a2};
        for (int v = 0; v < 3; ++v) {
            const __m256i out = _mm256_or_si256(
                _mm256_or_si256(_mm256_and_si256(raw[v], keep[v]), flags[v]),
                _mm256_shuffle_epi8(grey, simd::mask2(simd::kMasks.merge[v][1])));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(a + 16 * v), _mm256_castsi256_si128(out));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 16 * v), _mm256_extracti128_si256(out, 1));
        }
        if constexpr (Count) {
            const uint32_t bits = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(grey, _mm256_shuffle_epi8(grey, z))));
            if ((bits & 0xFFFF) == 0xFFFF) part[0][_mm256_cvtsi256_si32(grey) & 255] += 16;
            else countPixels(a, 16, part);
            if ((bits >> 16) == 0xFFFF) part[1][_mm_cvtsi128_si32(_mm256_extracti128_si256(grey, 1)) & 255] += 16;
            else countPixels(b, 16, part);
            qualified += 32;
        }
    }
    return qualified + encodeSimd<0, Count>(p + 3 * i, n - i, part);
}

// AVX2: thirty-two pixels per step (two blocks, one per lane), the rest by the SSSE3 loop.
template <int C, bool Count>
LUMO_AVX2 uint32_t encodeAvx2(uint8_t* p, int32_t n, uint32_t (*part)[256]) {
    const __m256i third = _mm256_set1_epi16(21846), one = _mm256_set1_epi8(1), z = _mm256_setzero_si256();
    uint32_t qualified = 0;
    int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        uint8_t* a = p + 3 * i;
        uint8_t* b = a + 48;
        simd::Planes2 s = simd::split2(a, b);
        __m256i low, high;
        simd::sums2(s, low, high);
        const __m256i grey = _mm256_packus_epi16(_mm256_mulhi_epu16(low, third), _mm256_mulhi_epu16(high, third));
        const __m256i flag = _mm256_and_si256(simd::colourMask2<C>(s), one);
        s.c0 = flag;
        s.c1 = grey;
        simd::merge2(a, b, s);
        if constexpr (Count) {
            const __m256i same = _mm256_and_si256(_mm256_cmpeq_epi8(grey, _mm256_shuffle_epi8(grey, z)),
                                                  _mm256_cmpeq_epi8(flag, _mm256_shuffle_epi8(flag, z)));
            const uint32_t bits = static_cast<uint32_t>(_mm256_movemask_epi8(same));
            const __m128i greyHigh = _mm256_extracti128_si256(grey, 1), flagHigh = _mm256_extracti128_si256(flag, 1);
            if ((bits & 0xFFFF) == 0xFFFF) {
                const uint32_t f = static_cast<uint32_t>(_mm256_cvtsi256_si32(flag) & 1);
                part[0][_mm256_cvtsi256_si32(grey) & 255] += 16 * f;
                qualified += 16 * f;
            } else {
                qualified += countPixels(a, 16, part);
            }
            if ((bits >> 16) == 0xFFFF) {
                const uint32_t f = static_cast<uint32_t>(_mm_cvtsi128_si32(flagHigh) & 1);
                part[1][_mm_cvtsi128_si32(greyHigh) & 255] += 16 * f;
                qualified += 16 * f;
            } else {
                qualified += countPixels(b, 16, part);
            }
        }
    }
    return qualified + encodeSimd<C, Count>(p + 3 * i, n - i, part);
}

// Encodes the whole image and fills the histogram over the window in the same pass.
template <int C>
uint64_t encodeImage(const Image& im, const Window& w, uint32_t* hist) {
    uint32_t part[4][256] = {};
    const bool simd = simd::hasSsse3();
    auto encode = simd::hasAvx2() ? (C == 0 ? encodeGreyAvx2<false> : encodeAvx2<C, false>) : encodeSimd<C, false>;
    auto encodeCount = simd::hasAvx2() ? (C == 0 ? encodeGreyAvx2<true> : encodeAvx2<C, true>) : encodeSimd<C, true>;
    uint64_t qualified = 0;
    for (int32_t y = 0; y < im.height; ++y) {
        uint8_t* row = im.row(y);
        const bool inside = y >= w.y0 && y < w.y1;
        if (simd) {
            if (!inside) {
                encode(row, im.width, part);
                continue;
            }
            encode(row, w.x0, part);
            qualified += encodeCount(row + 3 * w.x0, w.x1 - w.x0, part);
            encode(row + 3 * w.x1, im.width - w.x1, part);
        } else {
            encodeRow<C>(row, im.width);
            if (inside) qualified += countPixels(row + 3 * w.x0, w.x1 - w.x0, part);
        }
    }
    for (int g = 0; g < 256; ++g) hist[g] = part[0][g] + part[1][g] + part[2][g] + part[3][g];
    return uint64_t(w.x1 - w.x0) * uint64_t(w.y1 - w.y0) - qualified;
}

// The marker on one row: bit 0x02 where the qualify flag is set and the grey level meets M.
template <int M>
void markRow(uint8_t* p, int32_t n, int lo, int hi) {
    for (int32_t x = 0; x < n; ++x, p += 3)
        p[0] = static_cast<uint8_t>(p[0] | ((int(p[0] != 0) & compare<M>(p[1], lo, hi)) << 1));
}

template <int M>
LUMO_SSSE3 int32_t markRowSsse3(uint8_t* p, int32_t n, int lo, int hi) {
    const __m128i vlo = _mm_set1_epi16(int16_t(lo)), vhi = _mm_set1_epi16(int16_t(hi));
    const __m128i z = _mm_setzero_si128(), two = _mm_set1_epi8(2);
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        simd::Planes s = simd::split(p + 3 * i);
        const __m128i cmp = simd::compareBytes<M>(_mm_unpacklo_epi8(s.c1, z), _mm_unpackhi_epi8(s.c1, z), vlo, vhi);
        const __m128i flagged = _mm_andnot_si128(_mm_cmpeq_epi8(s.c0, z), cmp);
        s.c0 = _mm_or_si128(s.c0, _mm_and_si128(flagged, two));
        simd::merge(p + 3 * i, s);
    }
    return i;
}

template <int M>
LUMO_AVX2 int32_t markRowAvx2(uint8_t* p, int32_t n, int lo, int hi) {
    const __m256i vlo = _mm256_set1_epi16(int16_t(lo)), vhi = _mm256_set1_epi16(int16_t(hi));
    const __m256i z = _mm256_setzero_si256(), two = _mm256_set1_epi8(2);
    int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        uint8_t* a = p + 3 * i;
        simd::Planes2 s = simd::split2(a, a + 48);
        const __m256i cmp = simd::compareBytes2<M>(_mm256_unpacklo_epi8(s.c1, z), _mm256_unpackhi_epi8(s.c1, z), vlo, vhi);
        const __m256i flagged = _mm256_andnot_si256(_mm256_cmpeq_epi8(s.c0, z), cmp);
        s.c0 = _mm256_or_si256(s.c0, _mm256_and_si256(flagged, two));
        simd::merge2(a, a + 48, s);
    }
    return i;
}

template <int M>
[[gnu::noinline]] void markImage(const Image& im, int lo, int hi) {
    const int level = simd::hasAvx2() ? 2 : simd::hasSsse3() ? 1 : 0;
    for (int32_t y = 0; y < im.height; ++y) {
        uint8_t* p = im.row(y);
        int32_t done = 0;
        if (level == 2) done = markRowAvx2<M>(p, im.width, lo, hi);
        if (level >= 1) done += markRowSsse3<M>(p + 3 * done, im.width - done, lo, hi);
        markRow<M>(p + 3 * done, im.width - done, lo, hi);
    }
}

inline bool marked(const uint8_t* p) { return (p[0] & 0x02) != 0; }

// ---- Erase Grid Lines -------------------------------------------------------------------------
[[gnu::noinline]] void eraseGridLines(const Image& im, int32_t thickness, int32_t hLength, int32_t vLength) {
    const int32_t w = im.width, h = im.height;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = im.row(y);
        for (int32_t x = 0; x < w;) {
            if (!marked(row + 3 * x)) {
                // Unmarked stretches (the background) are passed eight pixels at a time.
                while (x + 8 <= w) {
                    const uint8_t* q = row + 3 * x;
                    if ((q[0] | q[3] | q[6] | q[9] | q[12] | q[15] | q[18] | q[21]) & 0x02) break;
                    x += 8;
                }
                if (x < w && !marked(row + 3 * x)) ++x;
                continue;
            }
            const int32_t start = x;
            while (x < w && marked(row + 3 * x)) ++x;
            const int32_t len = x - start;
            const uint8_t cls = len <= thickness ? 1 : len < hLength ? 2 : 3;
            for (int32_t i = start; i < x; ++i) row[3 * i + 2] = cls;
        }
    }
    // Columns in blocks, walked row by row, so the image is read in storage order.
    constexpr int32_t kBlock = 64;
    uint8_t* top = im.top();
    const int64_t step = im.rowStep();
    for (int32_t bx = 0; bx < w; bx += kBlock) {
        const int32_t count = std::min(kBlock, w - bx);
        int32_t runStart[kBlock];
        std::fill_n(runStart, count, -1);
        for (int32_t y = 0; y <= h; ++y) {
            const uint8_t* row = y < h ? top + y * step : nullptr;
            for (int32_t i = 0; i < count; ++i) {
                const bool on = row && marked(row + 3 * (bx + i));
                if (on) {
                    if (runStart[i] < 0) runStart[i] = y;
                    continue;
                }
                if (runStart[i] < 0) continue;
                const int32_t len = y - runStart[i];
                uint8_t victim = 0;  // class of the pixels this run unmarks
                if (len <= thickness) victim = 3;
                else if (len >= vLength) victim = 1;
                if (victim) {
                    uint8_t* p = top + runStart[i] * step + 3 * (bx + i);
                    for (int32_t r = runStart[i]; r < y; ++r, p += step)
                        if (p[2] == victim) p[0] &= static_cast<uint8_t>(~0x02);
                }
                runStart[i] = -1;
            }
        }
    }
}

// ---- Outline Mode -------------------------------------------------------------------------------
// Vertical flags come only from senders off the left and right columns, horizontal flags only
// from senders off the top and bottom rows (border pixels flag inward, corners not at all).
[[gnu::noinline]] void outline(const Image& im) {
    const int32_t w = im.width, h = im.height;
    auto flagsOf = [&](int32_t y) {
        uint8_t* row = im.row(y);
        const uint8_t* up = y > 0 ? im.row(y - 1) : nullptr;
        const uint8_t* down = y + 1 < h ? im.row(y + 1) : nullptr;
        const bool horizontal = y >= 1 && y <= h - 2;
        if (horizontal && w >= 3) {
            // Inner rows: every neighbour may flag, except the vertical ones of the two edge columns.
            row[2] = static_cast<uint8_t>((row[3] & 2) << 2);
            for (int32_t x = 1; x < w - 1; ++x) {
                const uint8_t* c = row + 3 * x;
                row[3 * x + 2] = static_cast<uint8_t>(((up[3 * x] >> 1) & 1) | (down[3 * x] & 2) | ((c[-3] & 2) << 1) |
                                                      ((c[3] & 2) << 2));
            }
            row[3 * (w - 1) + 2] = static_cast<uint8_t>((row[3 * (w - 2)] & 2) << 1);
            return;
        }
        for (int32_t x = 0; x < w; ++x) {
            uint8_t f = 0;
            if (x >= 1 && x <= w - 2) {
                if (up && marked(up + 3 * x)) f |= 1;
                if (down && marked(down + 3 * x)) f |= 2;
            }
            if (horizontal) {
                if (x > 0 && marked(row + 3 * (x - 1))) f |= 4;
                if (x + 1 < w && marked(row + 3 * (x + 1))) f |= 8;
            }
            row[3 * x + 2] = f;
        }
    };
    auto unmarkInner = [&](int32_t y) {
        if (y < 1 || y > h - 2) return;
        uint8_t* row = im.row(y);
        for (int32_t x = 1; x < w - 1; ++x)
            if (row[3 * x + 2] == 15) row[3 * x] &= static_cast<uint8_t>(~0x02);
    };
    // Row y's flags read the marks of rows y-1..y+1, so row y-1 is unmarked only after them.
    for (int32_t y = 0; y < h; ++y) {
        flagsOf(y);
        if (y >= 1) unmarkInner(y - 1);
    }
}

// ---- Character Mode -------------------------------------------------------------------------------
[[gnu::noinline]] void horizontalDepth(const Image& im, int limit) {
    const int32_t w = im.width;
    for (int32_t y = 0; y < im.height; ++y) {
        uint8_t* row = im.row(y);
        for (int32_t x = 0; x < w;) {
            if (!marked(row + 3 * x)) {
                row[3 * x + 2] = 0;
                ++x;
                continue;
            }
            const int32_t start = x;
            while (x < w && marked(row + 3 * x)) ++x;
            int32_t left = start, right = x - 1;
            int d = 1;
            while (left < right) {
                row[3 * left + 2] = row[3 * right + 2] = static_cast<uint8_t>(d);
                if (d < limit) ++d;
                ++left;
                --right;
            }
            row[3 * right + 2] = static_cast<uint8_t>(d);
        }
    }
}

[[gnu::noinline]] void verticalDepth(const Image& im) {
    const int32_t w = im.width, h = im.height;
    const int64_t step = im.rowStep();
    int L = 0;  // carried from segment to segment and from column to column
    for (int32_t x = 0; x < w; ++x) {
        uint8_t* col = im.top() + 3 * x;
        auto px = [&](int32_t y) { return col + y * step; };
        auto d = [&](int32_t y) -> int { return px(y)[2]; };
        auto setD = [&](int32_t y, int v) { px(y)[2] = static_cast<uint8_t>(v); };
        int32_t y = 0;
        while (y < h) {
            if (!marked(px(y))) {
                ++y;
                continue;
            }
            const int32_t S = y;
            int32_t e = S;
            while (e + 1 < h && d(e + 1) >= d(e)) ++e;
            int32_t E, N;
            int F = 0;
            if (e + 1 >= h) {
                E = h - 1;
                N = h;
            } else if (d(e + 1) == 0) {
                E = e;
                N = e + 1;
            } else {
                int32_t q = e + 1;  // descending: non-zero and not greater than the previous
                for (;;) {
                    if (q + 1 >= h) { E = q; N = h; break; }
                    if (d(q + 1) == 0) { E = q; N = q + 1; break; }
                    if (d(q + 1) > d(q)) { E = q - 1; N = q; F = d(q); break; }  // q is a valley
                    ++q;
                }
            }
            int32_t P = S, Q = E;
            int M = F;
            while (P <= Q) {
                if (L < M) {
                    if (L < d(P)) setD(P, ++L);
                    ++P;
                } else {
                    if (M < d(Q)) setD(Q, ++M);
                    --Q;
                }
            }
            y = N;
            if (P < N) {
                const int32_t U = Q;  // directly above P
                L = F;
                if (U < 0 || d(U) < d(P)) {
                    if (P < h - 1 && d(P + 1) < d(P)) px(P)[0] |= 0x04;
                } else if (U > 0 && P < h - 1 && d(U - 1) < d(U) && d(P + 1) < d(U)) {
                    px(U)[0] |= 0x04;
                    setD(U, d(U) + 1);
                }
            }
        }
    }
}

[[gnu::noinline]] void horizontalMarks(const Image& im) {
    const int32_t w = im.width;
    for (int32_t y = 1; y < im.height - 1; ++y) {
        uint8_t* row = im.row(y);
        for (int32_t x = 1; x <= w - 2; ++x) {
            uint8_t* p = row + 3 * x;
            if (!marked(p)) continue;
            const int c = p[2];
            const int left = p[-1], right = p[5];
            if (left < c && (right < c || (x <= w - 3 && right == c && p[8] < c))) p[0] |= 0x04;
        }
    }
}

void characterMode(const Image& im, int32_t depthLimit) {
    // Depths live in one byte; the cap keeps every later increase inside it.
    const int limit = std::clamp(depthLimit, 1, 254);
    horizontalDepth(im, limit);
    verticalDepth(im);
    horizontalMarks(im);
}

}  // namespace

TAVIK_API int32_t lumoPreScan(ScanContext* ctx) {
    Image im;
    if (!openScan(ctx, im)) return 0;
    BinCondition& cond = *ctx->lpCondition;
    cond.bMode |= BIN_PRESCANNED;
    cond.dwPixelCount = 1;
    std::memset(cond.adwHistogram, 0, sizeof cond.adwHistogram);
    const Window w = clampWindow(ctx->nHistLeft, ctx->nHistRight, ctx->nHistTop, ctx->nHistBottom, im);
    uint64_t rejected;
    switch (colourOf(cond.bMode)) {
    case 0: rejected = encodeImage<0>(im, w, cond.adwHistogram); break;
    case 1: case 3: case 5: rejected = encodeImage<1>(im, w, cond.adwHistogram); break;
    case 2: case 6: rejected = encodeImage<2>(im, w, cond.adwHistogram); break;
    case 4: rejected = encodeImage<4>(im, w, cond.adwHistogram); break;
    default: rejected = encodeImage<7>(im, w, cond.adwHistogram); break;
    }
    const uint64_t n = uint64_t(w.x1 - w.x0) * uint64_t(w.y1 - w.y0) - rejected;
    if (n == 0) return 0;
    cond.dwPixelCount = static_cast<uint32_t>(n);
    if (cond.fAutoThreshfold) autoThreshold(cond, cond.dwPixelCount);
    if (!(cond.bMode & (BIN_ERASE_GRID | BIN_OUTLINE | BIN_CHARACTER))) return 1;

    const bool range = (cond.bMode & BIN_RANGE) != 0;
    const int lo = range ? cond.bThreshfoldMin : cond.bThreshfold;
    const int hi = range ? cond.bThreshfoldMax : cond.bThreshfold;
    switch (comparisonOf(cond.bMode)) {
    case 1: markImage<1>(im, lo, hi); break;
    case 2: markImage<2>(im, lo, hi); break;
    case 3: markImage<3>(im, lo, hi); break;
    case 4: markImage<4>(im, lo, hi); break;
    case 5: markImage<5>(im, lo, hi); break;
    default: markImage<6>(im, lo, hi); break;
    }
    if (cond.bMode & BIN_ERASE_GRID) eraseGridLines(im, ctx->nLineThickness, ctx->nHLineLength, ctx->nVLineLength);
    else if (cond.bMode & BIN_OUTLINE) outline(im);
    else characterMode(im, ctx->nDepthLimit);
    return 1;
}

TAVIK_API int32_t lumoFindDot(ScanContext* ctx, uint32_t key) {
    Image im;
    if (!openScan(ctx, im)) return 0;
    const Window win = clampWindow(ctx->nOriginX, ctx->nLimitX, ctx->nOriginY, ctx->nLimitY, im);
    auto matches = [key](const uint8_t* p) {
        return (uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16)) == key;
    };
    int32_t foundRow = -1;
    for (int32_t y = win.y0; y < win.y1 && foundRow < 0; ++y) {
        const uint8_t* row = im.row(y);
        for (int32_t x = win.x0; x < win.x1; ++x)
            if (matches(row + 3 * x)) {
                foundRow = y;
                break;
            }
    }
    if (foundRow < 0) return 0;
    ctx->nOriginY = foundRow;
    for (int32_t x = win.x0; x < win.x1; ++x)
        for (int32_t y = foundRow; y < win.y1; ++y)
            if (matches(im.row(y) + 3 * x)) {
                ctx->nOriginX = x;
                return 1;
            }
    return 1;
}
