// Binarization: opening a scan context, the pixel-rule family (one tight loop per rule, chosen
// once per batch), the cell test, the histogram with the automatic threshold, and the preview.
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "imaging/bitmap.h"
#include "imaging/scan.h"
#include "imaging/simd_pixels.h"

namespace lumo {

bool openScan(ScanContext* ctx, Image& im) {
    if (!ctx || !ctx->lpCondition) return false;
    const DibHandle& d = ctx->dib;
    if (!d.hDib || !d.lpbi || !d.lpBits || d.nWidth <= 0 || d.nHeight <= 0) return false;
    const uint8_t* base = d.hDib->data.get();
    if (reinterpret_cast<const uint8_t*>(d.lpbi) != base || d.lpbi->biBitCount != 24 ||
        d.lpbi->biWidth != d.nWidth || (d.lpbi->biHeight < 0 ? -int64_t{d.lpbi->biHeight} : d.lpbi->biHeight) != d.nHeight ||
        d.nStride != rowStride(24, d.nWidth) || d.lpBits < base + kInfoHeaderSize)
        return false;
    const size_t offset = static_cast<size_t>(d.lpBits - base);
    if (offset > d.hDib->size || d.hDib->size - offset < size_t(d.nStride) * size_t(d.nHeight)) return false;
    im.bits = d.lpBits;
    im.stride = d.nStride;
    im.width = d.nWidth;
    im.height = d.nHeight;
    im.topDown = d.lpbi->biHeight < 0;
    if (ctx->nLimitX == -1 || ctx->nLimitX > im.width) ctx->nLimitX = im.width;
    if (ctx->nHistRight == -1 || ctx->nHistRight > im.width) ctx->nHistRight = im.width;
    if (ctx->nLimitY == -1 || ctx->nLimitY > im.height) ctx->nLimitY = im.height;
    if (ctx->nHistBottom == -1 || ctx->nHistBottom > im.height) ctx->nHistBottom = im.height;
    return true;
}

Window clampWindow(int64_t left, int64_t right, int64_t top, int64_t bottom, const Image& im) {
    auto clamp = [](int64_t v, int64_t hi) { return static_cast<int32_t>(v < 0 ? 0 : v > hi ? hi : v); };
    Window w{clamp(left, im.width), clamp(right, im.width), clamp(top, im.height), clamp(bottom, im.height)};
    if (w.x1 < w.x0) w.x1 = w.x0;
    if (w.y1 < w.y0) w.y1 = w.y0;
    return w;
}

namespace {

// Any of n pixels meeting pred; blocks of 8 pixels are judged without branches, then the
// first block with a hit ends the loop.
template <class Pred>
inline bool anyPixel(const uint8_t* p, int32_t n, Pred pred) {
    int32_t i = 0;
    for (; i + 8 <= n; i += 8, p += 24) {
        bool hit = false;
        for (int k = 0; k < 8; ++k) hit |= pred(p + 3 * k);
        if (hit) return true;
    }
    for (; i < n; ++i, p += 3)
        if (pred(p)) return true;
    return false;
}

// Case 1: colour pixels, qualify under c and compare the sum with the bounds.
template <int C, int M>
bool colourRule(const RuleParams& r, const uint8_t* p, int32_t n) {
    const int lo = r.lo, hi = r.hi;
    return anyPixel(p, n, [lo, hi](const uint8_t* q) {
        const int b = q[0], g = q[1], rr = q[2];
        return (colourOk<C>(b, g, rr) & compare<M>(b + g + rr, lo, hi)) != 0;
    });
}

// Case 2: pre-scanned pixels, compare the grey byte; the flag byte counts unless flagOff.
template <int M>
bool encodedRule(const RuleParams& r, const uint8_t* p, int32_t n) {
    const int lo = r.lo, hi = r.hi;
    const uint8_t off = r.flagOff;
    return anyPixel(p, n, [lo, hi, off](const uint8_t* q) { return (int((q[0] | off) != 0) & compare<M>(q[1], lo, hi)) != 0; });
}

// Case 3: an effect's mark bit.
bool markRule(const RuleParams& r, const uint8_t* p, int32_t n) {
    const uint8_t bits = r.bits;
    return anyPixel(p, n, [bits](const uint8_t* q) { return (q[0] & bits) != 0; });
}

// The same rules, sixteen pixels at a time (segments shorter than that use the scalar loop).
template <int C, int M>
LUMO_SSSE3 bool colourRuleSimd(const RuleParams& r, const uint8_t* p, int32_t n) {
    if (n < 16) return colourRule<C, M>(r, p, n);
    const __m128i lo = _mm_set1_epi16(int16_t(r.lo)), hi = _mm_set1_epi16(int16_t(r.hi));
    for (int32_t at = 0; at < n; at = simd::nextBlock(at, n)) {
        const simd::Planes s = simd::split(p + 3 * at);
        __m128i low, high;
        simd::sums(s, low, high);
        const __m128i hit = _mm_and_si128(simd::colourMask<C>(s), simd::compareBytes<M>(low, high, lo, hi));
        if (_mm_movemask_epi8(hit)) return true;
    }
    return false;
}

template <int M>
LUMO_SSSE3 bool encodedRuleSimd(const RuleParams& r, const uint8_t* p, int32_t n) {
    if (n < 16) return encodedRule<M>(r, p, n);
    const __m128i lo = _mm_set1_epi16(int16_t(r.lo)), hi = _mm_set1_epi16(int16_t(r.hi));
    const __m128i z = _mm_setzero_si128();
    const __m128i off = r.flagOff ? _mm_set1_epi8(char(0xFF)) : z;
    for (int32_t at = 0; at < n; at = simd::nextBlock(at, n)) {
        const simd::Planes s = simd::split(p + 3 * at);
        const __m128i flag = _mm_or_si128(_mm_xor_si128(_mm_cmpeq_epi8(s.c0, z), _mm_set1_epi8(char(0xFF))), off);
        const __m128i cmp = simd::compareBytes<M>(_mm_unpacklo_epi8(s.c1, z), _mm_unpackhi_epi8(s.c1, z), lo, hi);
        if (_mm_movemask_epi8(_mm_and_si128(flag, cmp))) return true;
    }
    return false;
}

LUMO_SSSE3 bool markRuleSimd(const RuleParams& r, const uint8_t* p, int32_t n) {
    if (n < 16) return markRule(r, p, n);
    const __m128i bits = _mm_set1_epi8(char(r.bits)), z = _mm_setzero_si128();
    for (int32_t at = 0; at < n; at = simd::nextBlock(at, n)) {
        const simd::Planes s = simd::split(p + 3 * at);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(s.c0, bits), z)) != 0xFFFF) return true;
    }
    return false;
}

// AVX2: the 16-pixel blocks of a segment, two per step (the last block repeated when their
// number is odd).
template <int C, int M>
LUMO_AVX2 bool colourRuleAvx2(const RuleParams& r, const uint8_t* p, int32_t n) {
    if (n < 16) return colourRule<C, M>(r, p, n);
    const __m256i lo = _mm256_set1_epi16(int16_t(r.lo)), hi = _mm256_set1_epi16(int16_t(r.hi));
    for (int32_t at = 0; at < n;) {
        const int32_t next = simd::nextBlock(at, n);
        const int32_t second = next < n ? next : at;
        __m256i low, high, hit;
        if constexpr (C == 0) {
            // No colour box: the sums alone decide, gathered straight from the raw bytes.
            simd::rawSums2(simd::loadRaw2(p + 3 * at, p + 3 * second), low, high);
            hit = simd::compareBytes2<M>(low, high, lo, hi);
        } else {
            const simd::Planes2 s = simd::split2(p + 3 * at, p + 3 * second);
            simd::sums2(s, low, high);
            hit = _mm256_and_si256(simd::colourMask2<C>(s), simd::compareBytes2<M>(low, high, lo, hi));
        }
        if (_mm256_movemask_epi8(hit)) return true;
        at = next < n ? simd::nextBlock(next, n) : n;
    }
    return false;
}

template <int M>
LUMO_AVX2 bool encodedRuleAvx2(const RuleParams& r, const uint8_t* p, int32_t n) {
    if (n < 16) return encodedRule<M>(r, p, n);
    const __m256i lo = _mm256_set1_epi16(int16_t(r.lo)), hi = _mm256_set1_epi16(int16_t(r.hi));
    const __m256i z = _mm256_setzero_si256();
    const __m256i off = r.flagOff ? _mm256_set1_epi8(char(0xFF)) : z;
    for (int32_t at = 0; at < n;) {
        const int32_t next = simd::nextBlock(at, n);
        const int32_t second = next < n ? next : at;
        const simd::Planes2 s = simd::split2(p + 3 * at, p + 3 * second);
        const __m256i flag = _mm256_or_si256(_mm256_xor_si256(_mm256_cmpeq_epi8(s.c0, z), _mm256_set1_epi8(char(0xFF))), off);
        const __m256i cmp = simd::compareBytes2<M>(_mm256_unpacklo_epi8(s.c1, z), _mm256_unpackhi_epi8(s.c1, z), lo, hi);
        if (_mm256_movemask_epi8(_mm256_and_si256(flag, cmp))) return true;
        at = next < n ? simd::nextBlock(next, n) : n;
    }
    return false;
}

// Level 0 scalar, 1 SSSE3, 2 AVX2.
template <int C, int Simd>
constexpr std::array<SegmentTest, 6> colourRow() {
    if constexpr (Simd == 2)
        return {colourRuleAvx2<C, 1>, colourRuleAvx2<C, 2>, colourRuleAvx2<C, 3>,
                colourRuleAvx2<C, 4>, colourRuleAvx2<C, 5>, colourRuleAvx2<C, 6>};
    else if constexpr (Simd == 1)
        return {colourRuleSimd<C, 1>, colourRuleSimd<C, 2>, colourRuleSimd<C, 3>,
                colourRuleSimd<C, 4>, colourRuleSimd<C, 5>, colourRuleSimd<C, 6>};
    else
        return {colourRule<C, 1>, colourRule<C, 2>, colourRule<C, 3>, colourRule<C, 4>, colourRule<C, 5>, colourRule<C, 6>};
}

// The family: entries c * 6 + m - 1 (case 1, single and range share their loops; colour values
// 5 and 6 reuse 1 and 2), then the six rules of case 2, then the mark rule of case 3. One table
// of scalar loops and one of SSSE3 loops with identical results.
template <int Simd>
struct RuleTable {
    std::array<SegmentTest, 48> colour{};
    std::array<SegmentTest, 6> encoded{};
    SegmentTest mark = nullptr;
    constexpr RuleTable() {
        const std::array<std::array<SegmentTest, 6>, 8> rows = {
            colourRow<0, Simd>(), colourRow<1, Simd>(), colourRow<2, Simd>(), colourRow<3, Simd>(),
            colourRow<4, Simd>(), colourRow<1, Simd>(), colourRow<2, Simd>(), colourRow<7, Simd>()};
        for (int c = 0; c < 8; ++c)
            for (int m = 0; m < 6; ++m) colour[c * 6 + m] = rows[c][m];
        if constexpr (Simd == 2) {
            encoded = {encodedRuleAvx2<1>, encodedRuleAvx2<2>, encodedRuleAvx2<3>,
                       encodedRuleAvx2<4>, encodedRuleAvx2<5>, encodedRuleAvx2<6>};
            mark = markRuleSimd;
        } else if constexpr (Simd == 1) {
            encoded = {encodedRuleSimd<1>, encodedRuleSimd<2>, encodedRuleSimd<3>,
                       encodedRuleSimd<4>, encodedRuleSimd<5>, encodedRuleSimd<6>};
            mark = markRuleSimd;
        } else {
            encoded = {encodedRule<1>, encodedRule<2>, encodedRule<3>, encodedRule<4>, encodedRule<5>, encodedRule<6>};
            mark = markRule;
        }
    }
};
constexpr RuleTable<0> kScalarRules;
constexpr RuleTable<1> kSsse3Rules;
constexpr RuleTable<2> kAvx2Rules;

}  // namespace

PixelRule selectRule(const BinCondition& cond, int maxLevel) {
    const int level = std::min(maxLevel, simd::hasAvx2() ? 2 : simd::hasSsse3() ? 1 : 0);
    const auto& colourRules = level == 2 ? kAvx2Rules.colour : level == 1 ? kSsse3Rules.colour : kScalarRules.colour;
    const auto& encodedRules = level == 2 ? kAvx2Rules.encoded : level == 1 ? kSsse3Rules.encoded : kScalarRules.encoded;
    PixelRule rule;
    const uint16_t mode = cond.bMode;
    const int m = comparisonOf(mode), c = colourOf(mode);
    const bool range = (mode & BIN_RANGE) != 0;
    const int lo = range ? cond.bThreshfoldMin : cond.bThreshfold;
    const int hi = range ? cond.bThreshfoldMax : cond.bThreshfold;
    if (!(mode & BIN_PRESCANNED)) {
        rule.test = colourRules[c * 6 + m - 1];
        rule.params.lo = 3 * lo;
        rule.params.hi = 3 * hi + 2;
    } else if (!(mode & (BIN_ERASE_GRID | BIN_OUTLINE | BIN_CHARACTER))) {
        rule.test = encodedRules[m - 1];
        rule.params.lo = lo;
        rule.params.hi = hi;
        rule.params.flagOff = c == 0 ? 1 : 0;
    } else {
        rule.test = level > 0 ? kSsse3Rules.mark : kScalarRules.mark;
        rule.params.bits = (mode & (BIN_ERASE_GRID | BIN_OUTLINE)) ? 0x02 : 0x04;
    }
    return rule;
}

bool cellTest(const Image& im, int32_t limitX, int32_t limitY, int64_t cellX, int64_t cellY, int64_t cellW,
              int64_t cellH, const PixelRule& rule) {
    if (cellX >= limitX || cellY >= limitY) return false;
    const int64_t x0 = cellX < 0 ? 0 : cellX;
    const int64_t y0 = cellY < 0 ? 0 : cellY;
    const int64_t x1 = std::min<int64_t>({int64_t{limitX}, cellX + cellW, int64_t{im.width}});
    const int64_t y1 = std::min<int64_t>({int64_t{limitY}, cellY + cellH, int64_t{im.height}});
    if (x1 <= x0) return false;
    for (int64_t y = y0; y < y1; ++y)
        if (rule.test(rule.params, im.row(static_cast<int32_t>(y)) + 3 * x0, static_cast<int32_t>(x1 - x0))) return true;
    return false;
}

void autoThreshold(BinCondition& cond, uint32_t n) {
    uint32_t peak = 0;
    int level = 0;
    for (int g = 0; g < 256; ++g)
        if (cond.adwHistogram[g] > peak) peak = cond.adwHistogram[g], level = g;
    cond.dwPeakCount = peak;
    cond.bThreshfold = cond.bThreshfoldMin = cond.bThreshfoldMax = static_cast<uint8_t>(level);
    cond.bMode &= 0xFF70;
    int m;
    if (peak >= n / 2) {
        m = 5;
    } else {
        uint64_t darker = 0;
        for (int g = 0; g < level; ++g) darker += cond.adwHistogram[g];
        m = darker < (n - peak) / 2 ? 1 : 4;
    }
    cond.bMode = static_cast<uint16_t>(cond.bMode | m);
}

namespace {

template <int C>
uint64_t histogramOf(const Image& im, const Window& w, uint32_t* hist) {
    uint64_t rejected = 0;
    for (int32_t y = w.y0; y < w.y1; ++y) {
        const uint8_t* p = im.row(y) + 3 * w.x0;
        for (int32_t x = w.x0; x < w.x1; ++x, p += 3) {
            const int b = p[0], g = p[1], r = p[2];
            const bool ok = colourOk<C>(b, g, r);
            hist[(b + g + r) / 3] += ok;
            rejected += !ok;
        }
    }
    return rejected;
}

template <int C>
void previewGreys(const Image& im, bool prescanned, LumoBitmap& out) {
    for (int32_t y = 0; y < im.height; ++y) {
        const uint8_t* p = im.row(y);
        uint32_t* o = out.lpPixels + size_t(y) * size_t(im.width);
        for (int32_t x = 0; x < im.width; ++x, p += 3) {
            uint32_t v;
            if (prescanned) v = p[0] ? p[1] / 2 + 64 : 255;
            else v = colourOk<C>(p[0], p[1], p[2]) ? (p[0] + p[1] + p[2]) / 6 + 64 : 255;
            o[x] = v * 0x010101u;
        }
    }
}

}  // namespace

}  // namespace lumo

using namespace lumo;

TAVIK_API int32_t lumoSetValidThreshfold(ScanContext* ctx) {
    Image im;
    if (!openScan(ctx, im)) return 0;
    BinCondition& cond = *ctx->lpCondition;
    cond.bMode &= ~BIN_PRESCANNED;
    cond.dwPixelCount = 1;
    std::memset(cond.adwHistogram, 0, sizeof cond.adwHistogram);
    const Window w = clampWindow(ctx->nHistLeft, ctx->nHistRight, ctx->nHistTop, ctx->nHistBottom, im);
    uint64_t n = uint64_t(w.x1 - w.x0) * uint64_t(w.y1 - w.y0);
    uint64_t rejected = 0;
    switch (colourOf(cond.bMode)) {
    case 0: rejected = histogramOf<0>(im, w, cond.adwHistogram); break;
    case 1: case 3: case 5: rejected = histogramOf<1>(im, w, cond.adwHistogram); break;
    case 2: case 6: rejected = histogramOf<2>(im, w, cond.adwHistogram); break;
    case 4: rejected = histogramOf<4>(im, w, cond.adwHistogram); break;
    default: rejected = histogramOf<7>(im, w, cond.adwHistogram); break;
    }
    n -= rejected;
    if (n == 0) return 0;
    cond.dwPixelCount = static_cast<uint32_t>(n);
    if (cond.fAutoThreshfold) autoThreshold(cond, cond.dwPixelCount);
    return 1;
}

TAVIK_API LumoHBITMAP lumoCreateBinaryBitmap(ScanContext* ctx) {
    Image im;
    if (!openScan(ctx, im)) return nullptr;
    const BinCondition& cond = *ctx->lpCondition;
    const PixelRule rule = selectRule(cond);
    BitmapPtr out(newBitmap(im.width, im.height));
    if (!out) return nullptr;
    const bool prescanned = (cond.bMode & BIN_PRESCANNED) != 0;
    switch (colourOf(cond.bMode)) {
    case 0: previewGreys<0>(im, prescanned, *out); break;
    case 1: case 3: case 5: previewGreys<1>(im, prescanned, *out); break;
    case 2: case 6: previewGreys<2>(im, prescanned, *out); break;
    case 4: previewGreys<4>(im, prescanned, *out); break;
    default: previewGreys<7>(im, prescanned, *out); break;
    }
    const int64_t cw = ctx->nCellWidth, ch = ctx->nCellHeight;
    if (cw <= 0 || ch <= 0) return out.release();
    uint32_t* px = out->lpPixels;
    const int64_t w = im.width, h = im.height;
    auto hline = [&](int64_t y, int64_t x0, int64_t x1) {
        if (y < 0 || y >= h) return;
        for (int64_t x = std::max<int64_t>(x0, 0); x <= std::min(x1, w - 1); ++x) px[y * w + x] = 0;
    };
    auto vline = [&](int64_t x, int64_t y0, int64_t y1) {
        if (x < 0 || x >= w) return;
        for (int64_t y = std::max<int64_t>(y0, 0); y <= std::min(y1, h - 1); ++y) px[y * w + x] = 0;
    };
    for (int64_t n = w / cw; n >= 0; --n) {
        for (int64_t k = h / ch; k >= 0; --k) {
            const int64_t x0 = n * cw, y0 = k * ch;
            ctx->nCellX = static_cast<int32_t>(x0);
            ctx->nCellY = static_cast<int32_t>(y0);
            if (!cellTest(im, ctx->nLimitX, ctx->nLimitY, x0, y0, cw, ch, rule)) continue;
            const int64_t x1 = x0 + cw - 1, y1 = y0 + ch - 1;
            hline(y0, x0, x1);
            hline(y1, x0, x1);
            vline(x0, y0, y1);
            vline(x1, y0, y1);
        }
    }
    return out.release();
}
