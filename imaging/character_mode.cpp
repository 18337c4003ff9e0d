// Character Mode: horizontal depths from the marker's bits, then two vertical passes that move
// the depths towards each column segment's centre, and the image rows written from the final
// depths. Every pass keeps one byte per pixel; with AVX-512 the flags are bits and passes 2 and 3
// go down column strips.
#include <algorithm>
#include <bit>
#include <cstring>

#include "imaging/effect_rows.h"

namespace lumo::fx {

namespace {

// ---- Character Mode -----------------------------------------------------------------------------
// Three passes over byte arrays with one byte per pixel (rows padded to kLanes columns), each row
// by row with all columns handled at once in vectors. The columns are independent: the walk's
// carried counter is back at 0 after the last segment of every column that holds a mark.
//   1. Down: horizontal depths from the marker bits, and where each vertical segment starts
//      (a valley, where a descent turns upward, is known one row later).
//   2. Up: B, the bottom pointer's counter before it reaches each pixel, restarting at every
//      segment's last pixel with the depth of the pixel after it.
//   3. Down: A, the top pointer's counter. Both counters only grow, so a pixel is the top
//      pointer's while A < B and the pointers meet at the first pixel where A >= B. New depths,
//      the centre marks where the pointers met (decided one row late, once the pixel below is
//      known), and each image row written once its depths are final, two rows behind.

constexpr int64_t kLanes = 64;  // columns per widest vector step; the arrays' rows are padded to it

// Byte vectors of the generic kind: the same kernels compile to AVX2 inside functions built for
// it and to SSE2 elsewhere. `At` is the unaligned, aliasing view used to read and write memory.
struct Lanes32 {
    typedef uint8_t V __attribute__((vector_size(32)));
    typedef uint8_t At __attribute__((vector_size(32), aligned(1), may_alias));
    typedef uint64_t Q __attribute__((vector_size(32)));
};
struct Lanes16 {
    typedef uint8_t V __attribute__((vector_size(16)));
    typedef uint8_t At __attribute__((vector_size(16), aligned(1), may_alias));
    typedef uint64_t Q __attribute__((vector_size(16)));
};

#define LUMO_LOAD(T, p) (*reinterpret_cast<const typename T::At*>(p))
#define LUMO_STORE(T, p) (*reinterpret_cast<typename T::At*>(p))

// True when every byte of v is zero.
template <class T>
[[gnu::always_inline]] inline bool allZero(const typename T::V& v) {
    const typename T::Q q = reinterpret_cast<const typename T::Q&>(v);
    uint64_t any = 0;
    for (size_t k = 0; k < sizeof(q) / 8; ++k) any |= q[k];
    return any == 0;
}

// Pass 1 for one row: d = its depths, p = the row above's; phase per column (0 outside a
// segment, 1 rising, 2 falling) is carried from row to row. starts gets 0xFF where a segment
// starts below an unmarked pixel; startsAbove (the row above) gains 0xFF where that row is a
// valley. Packed: depths stay below 128 and the starts are bit 7 of the depths (starts is d,
// startsAbove is p).
template <class T, bool Packed>
[[gnu::always_inline]] inline void segmentStarts(const uint8_t* d, const uint8_t* p, uint8_t* phase,
                                                 uint8_t* startsAbove, uint8_t* starts, int64_t n) {
    using V = typename T::V;
    for (int64_t x = 0; x < n; x += int64_t(sizeof(V))) {
        const V vd = LUMO_LOAD(T, d + x), rawUp = LUMO_LOAD(T, p + x);
        const V vp = Packed ? (rawUp & 0x7F) : rawUp;
        if (allZero<T>(vd | vp)) {  // no segment here or above: the phase is already 0
            if (!Packed) LUMO_STORE(T, starts + x) = V{};
            continue;
        }
        const V ph = LUMO_LOAD(T, phase + x);
        const V marked = V(vd != 0), down = V(vd < vp), up = V(vd > vp);
        const V valley = V(ph == 2) & up, start = marked & V(vp == 0);
        if (Packed) {
            LUMO_STORE(T, startsAbove + x) = rawUp | (valley & 0x80);
            LUMO_STORE(T, starts + x) = vd | (start & 0x80);
        } else {
            LUMO_STORE(T, startsAbove + x) = LUMO_LOAD(T, startsAbove + x) | valley;
            LUMO_STORE(T, starts + x) = start;
        }
        LUMO_STORE(T, phase + x) = marked & ((down & 2) | (up & 1) | (~(down | up) & ph));
    }
}

// Pass 2 for one row from the row below it (depths dn, starts sn, counters bn): B = the depth
// below where this pixel ends a segment, else the counter below, raised by one when it was
// under the depth below.
// The depths and starts of the row above this one (the next to be done) are fetched on the way:
// rows are taken from the bottom up, which the processor's own prefetching does not foresee.
// B is read only where this row is marked (by pass 3, and by this pass for the row above, which
// takes the depth below instead wherever this row is not marked), so unmarked stretches are not
// written at all.
template <class T, bool Packed>
[[gnu::always_inline]] inline void belowCounts(const uint8_t* d, const uint8_t* dn, const uint8_t* sn, const uint8_t* bn,
                                               uint8_t* b, const uint8_t* nextD, const uint8_t* nextS, int64_t n) {
    using V = typename T::V;
    for (int64_t x = 0; x < n; x += int64_t(sizeof(V))) {
        __builtin_prefetch(nextD + x);
        if (!Packed) __builtin_prefetch(nextS + x);
        const V here = LUMO_LOAD(T, d + x);
        if (allZero<T>(here)) continue;
        const V raw = LUMO_LOAD(T, dn + x);
        const V vd = Packed ? (raw & 0x7F) : raw;
        const V vs = Packed ? V((raw & 0x80) != 0) : LUMO_LOAD(T, sn + x), vb = LUMO_LOAD(T, bn + x);
        const V end = vs | V(vd == 0);
        LUMO_STORE(T, b + x) = (end & vd) | (~end & (vb - V(vb < vd)));
    }
}

// Pass 3 for row r: the rows it reads and the rows and column state it updates.
struct WalkRow {
    const uint8_t* d;   // depths of row r
    const uint8_t* b;   // B of row r
    const uint8_t* s;   // segment starts of row r
    uint8_t* a;         // per column: the top counter carried into row r
    uint8_t* met;       // per column: 0xFF once the current segment has a bottom-pointer pixel
    uint8_t* bottom;    // per column: row r - 1 was a bottom-pointer pixel
    uint8_t* f0;        // new depths of rows r, r-1, r-2, r-3 (r-2 may still rise by one)
    uint8_t* f1;
    uint8_t* f2;
    const uint8_t* f3;
    uint8_t* m0;        // 0xFF where the pointers met (first bottom-pointer pixel), rows r, r-1
    const uint8_t* m1;
    uint8_t* v0;        // vertical centre marks (0 or 4) of rows r, r-1, r-2
    uint8_t* v1;
    uint8_t* v2;
    int64_t ahead;      // from row r's depths, starts and B to the next row's (fetched on the way)
    uint8_t firstRow;   // 0xFF when row r - 1 is the image's first row
    uint8_t uInside;    // 0xFF when row r - 2 is below the first row
};

template <class T, bool Packed>
[[gnu::always_inline]] inline void walkRow(const WalkRow& w, int64_t n) {
    using V = typename T::V;
    // Locals, so that the stores through the aliasing views do not reload the row pointers.
    const uint8_t *const rd = w.d, *const rb = w.b, *const rs = w.s, *const rf3 = w.f3, *const rm1 = w.m1;
    uint8_t *const ra = w.a, *const rmet = w.met, *const rbottom = w.bottom, *const rf0 = w.f0, *const rf1 = w.f1;
    uint8_t *const rf2 = w.f2, *const rm0 = w.m0, *const rv0 = w.v0, *const rv1 = w.v1, *const rv2 = w.v2;
    const V first = V{} + w.firstRow, uInside = V{} + w.uInside;
    for (int64_t x = 0; x < n; x += int64_t(sizeof(V))) {
        __builtin_prefetch(rd + w.ahead + x);
        if (!Packed) __builtin_prefetch(rs + w.ahead + x);
        __builtin_prefetch(rb + w.ahead + x);
        const V raw = LUMO_LOAD(T, rd + x), carried = LUMO_LOAD(T, ra + x), met = LUMO_LOAD(T, rmet + x);
        const V wasBottom = LUMO_LOAD(T, rbottom + x), m1 = LUMO_LOAD(T, rm1 + x);
        if (allZero<T>(raw | carried | met | wasBottom | m1)) {
            // No mark here, none in the segment above, and no meeting to judge: nothing changes.
            LUMO_STORE(T, rf0 + x) = V{};
            LUMO_STORE(T, rm0 + x) = V{};
            LUMO_STORE(T, rv0 + x) = V{};
            continue;
        }
        const V d = Packed ? (raw & 0x7F) : raw;
        const V b = LUMO_LOAD(T, rb + x), s = Packed ? V((raw & 0x80) != 0) : LUMO_LOAD(T, rs + x);
        const V marked = V(d != 0);
        // A segment that starts at a valley takes the valley's depth as its counter when the
        // pointers met in the segment above; otherwise the counter runs on (met is clear, and
        // the counter 0, after an unmarked pixel).
        const V restart = s & met;
        const V a = (restart & d) | (~restart & carried);
        const V top = marked & V(a < b);
        const V bottom = marked & ~top;
        const V a1 = a + 1, b1 = b + 1;
        const V f0 = (top & (d < a1 ? d : a1)) | (~top & (d < b1 ? d : b1));
        LUMO_STORE(T, ra + x) = marked & (a - V(a < d));
        LUMO_STORE(T, rmet + x) = marked & ((met & ~s) | bottom);
        LUMO_STORE(T, rm0 + x) = bottom & (s | ~wasBottom);
        LUMO_STORE(T, rbottom + x) = bottom;
        LUMO_STORE(T, rf0 + x) = f0;
        LUMO_STORE(T, rv0 + x) = V{};
        if (allZero<T>(m1)) continue;
        // Where the pointers met at P = r - 1, with U = r - 2 above it: the pixel below P is
        // this row's (its original depth when it starts the next segment).
        const V below = (s & d) | (~s & f0);
        const V dp = LUMO_LOAD(T, rf1 + x), du = LUMO_LOAD(T, rf2 + x), duu = LUMO_LOAD(T, rf3 + x);
        const V lower = first | V(du < dp);
        const V markP = m1 & lower & V(below < dp);
        const V markU = m1 & ~lower & uInside & V(duu < du) & V(below < du);
        LUMO_STORE(T, rv1 + x) = LUMO_LOAD(T, rv1 + x) | (markP & 4);
        LUMO_STORE(T, rv2 + x) = LUMO_LOAD(T, rv2 + x) | (markU & 4);
        LUMO_STORE(T, rf2 + x) = du - markU;
    }
}

#undef LUMO_LOAD
#undef LUMO_STORE

// ---- Character Mode with AVX-512 -----------------------------------------------------------------
// The same passes with every per-pixel flag kept as a bit (a word per 64 columns) and the lanes'
// conditions in mask registers: the segment starts and the vertical marks are bit rows, and the
// phase a bit per column. With a depth cap below 16, B goes into the high half of each depth
// byte, so passes 2 and 3 move one array rather than two.

constexpr int kNibbleLimit = 15;  // the largest cap whose depths and B share a byte

// Passes 2 and 3 go down one column strip of 64 pixels at a time rather than along the rows: a
// strip's bytes of every row (64 x height) stay in the second-level cache from pass 2 to pass 3,
// and the walk keeps its column state and the rows it looks back at in registers. The walk
// leaves each row's final depths in place of its depths and its vertical marks in a bit row; the
// image rows are written afterwards.

// Where the strip passes find their rows: `stride` bytes from one image row to the next.
struct StripRows {
    uint8_t* depths;          // row 0's depths (the final depths once the walk has passed)
    uint8_t* counts;          // row 0's B, when B does not share the depth bytes
    const uint64_t* starts;   // row 0's start bits
    uint64_t* vertical;       // row 0's vertical-mark bits
    int64_t stride, words, height;
};

// Pass 2 (see belowCounts) for S strips from column x, from the bottom row up. Each row depends
// on the one below, so S strips are taken together to give the processor independent work.
template <bool Nibbles, int S>
LUMO_AVX512 void belowCountsStrips(const StripRows& rows, int64_t x) {
    const StripRows at = rows;  // a copy the stores below cannot reach, so nothing is read again
    const int64_t stride = at.stride, words = at.words;
    const __m512i one = _mm512_set1_epi8(1);
    __m512i vd[S], vb[S];  // the row below's depths and B
    uint64_t startsBelow[S];
    for (int i = 0; i < S; ++i) vd[i] = vb[i] = _mm512_setzero_si512(), startsBelow[i] = 0;
    for (int64_t y = at.height - 1; y >= 0; --y) {
        uint8_t* d = at.depths + y * stride + x;
        uint8_t* counts = at.counts + y * stride + x;
        const uint64_t* starts = at.starts + y * words + (x >> 6);
        // Rows are taken upwards, which the processor's prefetching does not foresee.
        const uint8_t* ahead = d - std::min<int64_t>(y, 64) * stride;
        for (int i = 0; i < S; ++i) __builtin_prefetch(ahead + 64 * i);
#pragma GCC unroll 4
        for (int i = 0; i < S; ++i) {
            const __m512i here = _mm512_loadu_si512(d + 64 * i);
            const __mmask64 marked = _mm512_test_epi8_mask(here, here);
            const __mmask64 end = startsBelow[i] | _mm512_testn_epi8_mask(vd[i], vd[i]);
            const __m512i counted = _mm512_mask_add_epi8(vb[i], _mm512_cmplt_epu8_mask(vb[i], vd[i]), vb[i], one);
            // B is read only where the row is marked; kept at 0 elsewhere, unmarked bytes stay 0.
            const __m512i count = _mm512_maskz_mov_epi8(marked, _mm512_mask_mov_epi8(counted, end, vd[i]));
            if (Nibbles) _mm512_storeu_si512(d + 64 * i, _mm512_or_si512(here, _mm512_slli_epi16(count, 4)));  // count <= 15
            else _mm512_storeu_si512(counts + 64 * i, count);
            vd[i] = here;
            vb[i] = count;
            startsBelow[i] = starts[i];
        }
    }
}

// Row y's final depths and vertical marks in the strip at column x.
LUMO_AVX512 inline void finishStripRow(const StripRows& at, int64_t y, int64_t x, __m512i f, __mmask64 v) {
    _mm512_storeu_si512(at.depths + y * at.stride + x, f);
    at.vertical[y * at.words + (x >> 6)] = v;
}

// Pass 3 (see walkRow) for S strips from column x, from the top row down. Row r - 2's depths are
// final once row r is walked (the meeting at r - 1 may raise them by one): they are stored then.
template <bool Nibbles, int S>
LUMO_AVX512 void walkStrips(const StripRows& rows, int64_t x) {
    const StripRows at = rows;  // a copy the stores below cannot reach, so nothing is read again
    const int64_t h = at.height, stride = at.stride, words = at.words;
    // Row r's depths, B and starts, and the row whose final depths and marks are stored (r - 2).
    const uint8_t* row = at.depths + x;
    const uint8_t* counts = at.counts + x;
    const uint64_t* starts = at.starts + (x >> 6);
    uint8_t* done = at.depths + x;
    uint64_t* doneMarks = at.vertical + (x >> 6);
    const __m512i zero = _mm512_setzero_si512(), one = _mm512_set1_epi8(1), low = _mm512_set1_epi8(0x0F);
    __m512i carried[S], f1[S], f2[S], f3[S];  // new depths of rows r-1, r-2, r-3
    __mmask64 met[S], wasBottom[S], m1[S], v1[S], v2[S];  // v1, v2: vertical marks of r-1, r-2
    for (int i = 0; i < S; ++i) {
        carried[i] = f1[i] = f2[i] = f3[i] = zero;
        met[i] = wasBottom[i] = m1[i] = v1[i] = v2[i] = 0;
    }
    for (int64_t r = 0; r < h; ++r, row += stride, counts += stride, starts += words) {
        const __mmask64 firstRow = r == 1 ? ~__mmask64{0} : 0, uInside = r >= 3 ? ~__mmask64{0} : 0;
#pragma GCC unroll 4
        for (int i = 0; i < S; ++i) {
            const __m512i raw = _mm512_loadu_si512(row + 64 * i);
            const __m512i d = Nibbles ? _mm512_and_si512(raw, low) : raw;
            const __m512i b = Nibbles ? _mm512_and_si512(_mm512_srli_epi16(raw, 4), low) : _mm512_loadu_si512(counts + 64 * i);
            const __mmask64 s = starts[i];
            const __mmask64 marked = _mm512_test_epi8_mask(d, d);
            // The counter restarts at the valley's depth where the pointers met in the segment above.
            const __m512i a = _mm512_mask_mov_epi8(carried[i], s & met[i], d);
            const __mmask64 top = marked & _mm512_cmplt_epu8_mask(a, b), bottom = marked & ~top;
            const __m512i f0 = _mm512_min_epu8(d, _mm512_add_epi8(_mm512_mask_mov_epi8(b, top, a), one));
            const __m512i kept = _mm512_maskz_mov_epi8(marked, a);
            carried[i] = _mm512_mask_add_epi8(kept, marked & _mm512_cmplt_epu8_mask(a, d), kept, one);
            const __mmask64 m0 = bottom & (s | ~wasBottom[i]);
            met[i] = marked & ((met[i] & ~s) | bottom);
            wasBottom[i] = bottom;
            if (m1[i]) {
                // Where the pointers met at P = r - 1, with U = r - 2 above it: the pixel below P
                // is this row's (its original depth when it starts the next segment).
                const __m512i below = _mm512_mask_mov_epi8(f0, s, d);
                const __mmask64 lower = firstRow | _mm512_cmplt_epu8_mask(f2[i], f1[i]);
                const __mmask64 markP = m1[i] & lower & _mm512_cmplt_epu8_mask(below, f1[i]);
                const __mmask64 markU = m1[i] & ~lower & uInside & _mm512_cmplt_epu8_mask(f3[i], f2[i]) &
                                        _mm512_cmplt_epu8_mask(below, f2[i]);
                v1[i] |= markP;
                v2[i] |= markU;
                f2[i] = _mm512_mask_add_epi8(f2[i], markU, f2[i], one);
            }
            if (r >= 2) {
                _mm512_storeu_si512(done + 64 * i, f2[i]);
                doneMarks[i] = v2[i];
            }
            f3[i] = f2[i], f2[i] = f1[i], f1[i] = f0;
            v2[i] = v1[i], v1[i] = 0;
            m1[i] = m0;
        }
        if (r >= 2) done += stride, doneMarks += words;
    }
    for (int i = 0; i < S; ++i) {
        if (h >= 2) finishStripRow(at, h - 2, x + 64 * i, f2[i], v2[i]);
        finishStripRow(at, h - 1, x + 64 * i, f1[i], v1[i]);
    }
}

// Passes 2 and 3 over S strips from column x.
template <bool Nibbles, int S>
void stripGroup(const StripRows& at, int64_t x) {
    belowCountsStrips<Nibbles, S>(at, x);
    walkStrips<Nibbles, S>(at, x);
}

// Passes 2 and 3 over every strip, three at a time (as many as keep the walk's state in registers).
template <bool Nibbles>
void stripPasses(const StripRows& at, int64_t n) {
    int64_t x = 0;
    for (; x + 3 * 64 <= n; x += 3 * 64) stripGroup<Nibbles, 3>(at, x);
    if (x + 2 * 64 <= n) stripGroup<Nibbles, 2>(at, x);
    else if (x < n) stripGroup<Nibbles, 1>(at, x);
}

// Vertical marks as bytes (0 or 4) from their bit row, for the writers that read bytes.
LUMO_AVX512 void verticalBytes(const uint64_t* bits, int64_t words, uint8_t* out) {
    const __m512i four = _mm512_set1_epi8(4);
    for (int64_t k = 0; k < words; ++k) _mm512_storeu_si512(out + 64 * k, _mm512_maskz_mov_epi8(bits[k], four));
}

template <bool Packed>
LUMO_AVX2 void segmentStartsAvx2(const uint8_t* d, const uint8_t* p, uint8_t* phase, uint8_t* above, uint8_t* starts,
                                 int64_t n) {
    segmentStarts<Lanes32, Packed>(d, p, phase, above, starts, n);
}
template <bool Packed>
void segmentStartsSse2(const uint8_t* d, const uint8_t* p, uint8_t* phase, uint8_t* above, uint8_t* starts, int64_t n) {
    segmentStarts<Lanes16, Packed>(d, p, phase, above, starts, n);
}
template <bool Packed>
LUMO_AVX2 void belowCountsAvx2(const uint8_t* d, const uint8_t* dn, const uint8_t* sn, const uint8_t* bn, uint8_t* b,
                               const uint8_t* nextD, const uint8_t* nextS, int64_t n) {
    belowCounts<Lanes32, Packed>(d, dn, sn, bn, b, nextD, nextS, n);
}
template <bool Packed>
void belowCountsSse2(const uint8_t* d, const uint8_t* dn, const uint8_t* sn, const uint8_t* bn, uint8_t* b,
                     const uint8_t* nextD, const uint8_t* nextS, int64_t n) {
    belowCounts<Lanes16, Packed>(d, dn, sn, bn, b, nextD, nextS, n);
}
template <bool Packed>
LUMO_AVX2 void walkRowAvx2(const WalkRow& w, int64_t n) { walkRow<Lanes32, Packed>(w, n); }
template <bool Packed>
void walkRowSse2(const WalkRow& w, int64_t n) { walkRow<Lanes16, Packed>(w, n); }

// The three passes' kernels for one vector width and one way of keeping the starts.
struct CharacterKernels {
    void (*starts)(const uint8_t*, const uint8_t*, uint8_t*, uint8_t*, uint8_t*, int64_t);
    void (*below)(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*, const uint8_t*,
                  const uint8_t*, int64_t);
    void (*walk)(const WalkRow&, int64_t);
};

CharacterKernels characterKernels(int level, bool packed) {
    if (level >= 2) {
        if (packed) return {segmentStartsAvx2<true>, belowCountsAvx2<true>, walkRowAvx2<true>};
        return {segmentStartsAvx2<false>, belowCountsAvx2<false>, walkRowAvx2<false>};
    }
    if (packed) return {segmentStartsSse2<true>, belowCountsSse2<true>, walkRowSse2<true>};
    return {segmentStartsSse2<false>, belowCountsSse2<false>, walkRowSse2<false>};
}

// Horizontal depths of one row from its marker bits: 0 where unmarked, each run counted from
// both ends at once, capped at limit. out holds n >= w bytes (n a multiple of 32); those past w
// become 0 as well. Done on bit rows rather than run by run (a screen row holds many short runs):
// a pixel's depth before the cap is min(i, j) + 1 for i, j its distances to the run's ends, that
// is the number of k for which it lies in the row eroded k - 1 times by one pixel either side
// (level E_k), plus one for the left one of the two middle pixels of a run of even length (the
// pair at the top level k, both in E_k and not in E_k+1). levels holds limit + 1 rows of
// wordsOf(w) + 1 words: the levels, then those left pixels.
template <class AddLevels>
void rowDepthsBy(const uint64_t* bits, int32_t w, int64_t n, int limit, uint8_t* out, uint64_t* levels,
                 AddLevels addLevels) {
    const int64_t words = wordsOf(w), stride = words + 1;
    uint64_t* pairs = levels;
    std::fill_n(pairs, words, 0);
    uint64_t* e = levels + stride;
    std::memcpy(e, bits, size_t(words) * 8);
    int count = 0;
    for (int level = 1; level <= limit; ++level, e += stride) {
        uint64_t any = 0;
        for (int64_t i = 0; i < words; ++i) any |= e[i];
        if (!any) break;
        count = level;
        if (level == limit) break;
        // E_k+1: in E_k with both neighbours in it (the neighbours of the row's ends are clear).
        uint64_t* next = e + stride;
        for (int64_t i = 0; i < words; ++i) {
            const uint64_t left = (e[i] << 1) | (i > 0 ? e[i - 1] >> 63 : 0);
            const uint64_t right = (e[i] >> 1) | (i + 1 < words ? e[i + 1] << 63 : 0);
            next[i] = e[i] & left & right;
        }
        // The top pairs at this level: their left pixel gains one.
        for (int64_t i = 0; i < words; ++i) {
            const uint64_t top = e[i] & ~next[i];
            const uint64_t topNext = i + 1 < words ? e[i + 1] & ~next[i + 1] : 0;
            pairs[i] |= top & ((top >> 1) | (topNext << 63));
        }
    }
    addLevels(levels, stride, count, words, n, out);
}

// Sums the levels into bytes: scalar, eight pixels at a time.
void addLevelsScalar(const uint64_t* levels, int64_t stride, int count, int64_t words, int64_t n, uint8_t* out) {
    std::memset(out, 0, size_t(n));
    for (int k = 0; k <= count; ++k)
        for (int64_t i = 0; i < words; ++i) {
            const uint64_t b = levels[k * stride + i];
            for (int j = 0; b && j < 8; ++j) {
                uint64_t v;
                std::memcpy(&v, out + 64 * i + 8 * j, 8);
                v += kSpread.v[(b >> (8 * j)) & 0xFF];
                std::memcpy(out + 64 * i + 8 * j, &v, 8);
            }
        }
}

// The same thirty-two pixels at a time: each level lies within the one before it, so a block
// stops at its first empty level.
LUMO_AVX2 void addLevelsAvx2(const uint64_t* levels, int64_t stride, int count, int64_t words, int64_t n, uint8_t* out) {
    for (int64_t x = 0; x < n; x += 32) {
        __m256i d = _mm256_setzero_si256();
        if (x < 64 * words) {
            const auto bitsAt = [&](int k) { return static_cast<uint32_t>(levels[k * stride + (x >> 6)] >> (x & 63)); };
            d = _mm256_sub_epi8(d, bitsToBytes(bitsAt(0)));
            for (int k = 1; k <= count; ++k) {
                const uint32_t m = bitsAt(k);
                if (!m) break;
                d = _mm256_sub_epi8(d, bitsToBytes(m));
            }
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), d);
    }
}

// The same sixty-four pixels at a time, each level adding one under its bits as a mask.
// Where a row's segment starts go when they are found as its depths are summed (pass 1 of the
// wide Character Mode): one bit per pixel, 64 columns to a word.
struct StartBits {
    const uint8_t* p;   // the row above's depths
    uint64_t* starts;   // this row's starts: below an unmarked pixel (its valleys come one row later)
    uint64_t* above;    // the row above's starts, which gain its valleys (a spare row above the first)
    uint64_t* falling;  // per column: in a segment whose depths have fallen since its highest point
};

// Starts of one 64-column step of the wide pass 1 from its depths d (see StartBits).
LUMO_AVX512 inline void startsOfStep(__m512i d, int64_t x, const StartBits& st) {
    const int64_t k = x >> 6;
    const __m512i vp = _mm512_loadu_si512(st.p + x);
    const __mmask64 marked = _mm512_test_epi8_mask(d, d);
    const __mmask64 down = _mm512_cmplt_epu8_mask(d, vp), up = _mm512_cmplt_epu8_mask(vp, d), flat = ~(down | up);
    const uint64_t falling = st.falling[k];
    st.above[k] |= falling & up;  // a rise after a fall: the row above is a valley
    st.starts[k] = marked & _mm512_testn_epi8_mask(vp, vp);
    st.falling[k] = marked & (down | (flat & falling));
}

LUMO_AVX512 void addLevelsAvx512(const uint64_t* levels, int64_t stride, int count, int64_t words, int64_t n,
                                 uint8_t* out, const StartBits& at) {
    const StartBits st = at;  // a copy the stores below cannot reach
    const __m512i one = _mm512_set1_epi8(1);
    for (int64_t x = 0; x < n; x += 64) {
        const int64_t k = x >> 6;
        __m512i d = _mm512_setzero_si512();
        if (k < words) {
            d = _mm512_maskz_mov_epi8(levels[k], one);
            for (int lv = 1; lv <= count; ++lv) {
                const uint64_t m = levels[lv * stride + k];
                if (!m) break;
                d = _mm512_mask_add_epi8(d, m, d, one);
            }
        }
        _mm512_storeu_si512(out + x, d);
        startsOfStep(d, x, st);
    }
}

// rowDepthsBy eight words at a time: funnel shifts carry the bits across words, and a word's
// neighbours come from the vectors either side by one lane (clear beyond the row's ends).

// The pixels of depth exactly k (set, C chunks of 8 words) join the planes (rows of 8 C words) of k's bits.
template <int C>
LUMO_AVX512 inline void addDepth(uint64_t* planeRows, int planes, int k, const __m512i* set) {
    for (int j = 0; j < planes; ++j) {
        if (!((k >> j) & 1)) continue;
        uint64_t* row = planeRows + j * 8 * C;
#pragma GCC unroll 4
        for (int c = 0; c < C; ++c) _mm512_storeu_si512(row + 8 * c, _mm512_or_si512(_mm512_loadu_si512(row + 8 * c), set[c]));
    }
}

// The depths of n pixels from P bit planes (rows rowWords apart) and the pairs' left pixels,
// with the row's starts found on the way.
template <int P>
LUMO_AVX512 void depthsFromPlanes(const uint64_t* planeRows, int64_t rowWords, const uint64_t* pairs, int64_t n,
                                  uint8_t* out, const StartBits& at) {
    const StartBits st = at;  // a copy the stores below cannot reach
    const __m512i one = _mm512_set1_epi8(1);
    __m512i weight[P];
    for (int j = 0; j < P; ++j) weight[j] = _mm512_set1_epi8(char(1 << j));
    for (int64_t x = 0; x < n; x += 64) {
        const int64_t k = x >> 6;
        __m512i d = _mm512_maskz_mov_epi8(planeRows[k], one);
#pragma GCC unroll 8
        for (int j = 1; j < P; ++j) d = _mm512_mask_add_epi8(d, planeRows[j * rowWords + k], d, weight[j]);
        d = _mm512_mask_add_epi8(d, pairs[k], d, one);
        _mm512_storeu_si512(out + x, d);
        startsOfStep(d, x, st);
    }
}

// The same for rows of up to 8 C words, with the row's levels held in registers. The depths are
// gathered as bit planes while the levels are made: the pixels whose depth is exactly k (in E_k
// and not in E_k+1) join plane j for every bit j of k, and the pairs' left pixels are added
// last. Turning the planes into bytes costs the same at every depth, with no loop whose length
// varies from step to step.
template <int C>
LUMO_AVX512 void rowDepthsHeld(const uint64_t* bits, int64_t words, int64_t n, int limit, uint8_t* out, uint64_t* levels,
                               const StartBits& st) {
    const __m512i zero = _mm512_setzero_si512();
    const int planes = std::bit_width(unsigned(limit));
    // Rows of C full chunks: the pairs, then the planes (levels holds 256 rows of words + 1).
    constexpr int64_t kRow = 8 * C;
    uint64_t* const pairRow = levels;
    uint64_t* const planeRows = levels + kRow;
    __m512i e[C], pairs[C];
    __mmask8 any = 0;
#pragma GCC unroll 4
    for (int c = 0; c < C; ++c) {
        e[c] = loadChunk(bits, words, c);
        pairs[c] = zero;
        any |= _mm512_test_epi64_mask(e[c], e[c]);
    }
    for (int j = 0; j < planes; ++j)
#pragma GCC unroll 4
        for (int c = 0; c < C; ++c) _mm512_storeu_si512(planeRows + j * kRow + 8 * c, zero);
    for (int level = 1; level <= limit && any; ++level) {
        if (level == limit) {  // what is left is capped here
            addDepth<C>(planeRows, planes, level, e);
            break;
        }
        __m512i kept[C], top[C];
        any = 0;
#pragma GCC unroll 4
        for (int c = 0; c < C; ++c) {
            const __m512i before = c > 0 ? e[c - 1] : zero, after = c + 1 < C ? e[c + 1] : zero;
            const __m512i left = _mm512_shldi_epi64(e[c], _mm512_maskz_alignr_epi64(0xFF, e[c], before, 7), 1);
            const __m512i right = _mm512_shrdi_epi64(e[c], _mm512_maskz_alignr_epi64(0xFF, after, e[c], 1), 1);
            kept[c] = _mm512_ternarylogic_epi64(e[c], left, right, 0x80);
            top[c] = _mm512_maskz_andnot_epi64(0xFF, kept[c], e[c]);
            any |= _mm512_test_epi64_mask(kept[c], kept[c]);
        }
        addDepth<C>(planeRows, planes, level, top);
#pragma GCC unroll 4
        for (int c = 0; c < C; ++c) {
            const __m512i after = c + 1 < C ? top[c + 1] : zero;
            pairs[c] = _mm512_ternarylogic_epi64(
                pairs[c], top[c], _mm512_shrdi_epi64(top[c], _mm512_maskz_alignr_epi64(0xFF, after, top[c], 1), 1),
                0xF8);  // pairs | (top & top's right neighbour)
            e[c] = kept[c];
        }
    }
#pragma GCC unroll 4
    for (int c = 0; c < C; ++c) _mm512_storeu_si512(pairRow + 8 * c, pairs[c]);
    switch (planes) {
    case 1: return depthsFromPlanes<1>(planeRows, kRow, pairRow, n, out, st);
    case 2: return depthsFromPlanes<2>(planeRows, kRow, pairRow, n, out, st);
    case 3: return depthsFromPlanes<3>(planeRows, kRow, pairRow, n, out, st);
    case 4: return depthsFromPlanes<4>(planeRows, kRow, pairRow, n, out, st);
    case 5: return depthsFromPlanes<5>(planeRows, kRow, pairRow, n, out, st);
    case 6: return depthsFromPlanes<6>(planeRows, kRow, pairRow, n, out, st);
    case 7: return depthsFromPlanes<7>(planeRows, kRow, pairRow, n, out, st);
    default: return depthsFromPlanes<8>(planeRows, kRow, pairRow, n, out, st);
    }
}

// Depths and segment starts of one row: pass 1 of the wide Character Mode.
LUMO_AVX512 void rowDepthsAvx512(const uint64_t* bits, int32_t w, int64_t n, int limit, uint8_t* out, uint64_t* levels,
                                 const StartBits& st) {
    const int64_t words = wordsOf(w), stride = words + 1, chunks = (words + 7) / 8;
    switch (chunks) {
    case 1: return rowDepthsHeld<1>(bits, words, n, limit, out, levels, st);
    case 2: return rowDepthsHeld<2>(bits, words, n, limit, out, levels, st);
    case 3: return rowDepthsHeld<3>(bits, words, n, limit, out, levels, st);
    case 4: return rowDepthsHeld<4>(bits, words, n, limit, out, levels, st);
    default: break;
    }
    uint64_t* pairs = levels;
    std::fill_n(pairs, words, 0);
    uint64_t* e = levels + stride;
    std::memcpy(e, bits, size_t(words) * 8);
    bool any = false;
    for (int64_t i = 0; i < words; ++i) any |= bits[i] != 0;
    int count = 0;
    for (int level = 1; level <= limit && any; ++level, e += stride) {
        count = level;
        if (level == limit) break;
        // E_k+1: in E_k with both neighbours in it.
        uint64_t* next = e + stride;
        __m512i before = _mm512_setzero_si512(), cur = loadChunk(e, words, 0);
        __mmask8 nonzero = 0;
        for (int64_t c = 0; c < chunks; ++c) {
            const __m512i after = loadChunk(e, words, c + 1);
            const __m512i left = _mm512_shldi_epi64(cur, _mm512_maskz_alignr_epi64(0xFF, cur, before, 7), 1);
            const __m512i right = _mm512_shrdi_epi64(cur, _mm512_maskz_alignr_epi64(0xFF, after, cur, 1), 1);
            const __m512i kept = _mm512_ternarylogic_epi64(cur, left, right, 0x80);  // all three
            _mm512_mask_storeu_epi64(next + 8 * c, chunkLanes(words, c), kept);
            nonzero |= _mm512_test_epi64_mask(kept, kept);
            before = cur;
            cur = after;
        }
        // The top pairs at this level: their left pixel gains one.
        __m512i top = _mm512_maskz_andnot_epi64(0xFF, loadChunk(next, words, 0), loadChunk(e, words, 0));
        for (int64_t c = 0; c < chunks; ++c) {
            const __m512i topAfter = _mm512_maskz_andnot_epi64(0xFF, loadChunk(next, words, c + 1), loadChunk(e, words, c + 1));
            const __m512i pair = _mm512_and_si512(top, _mm512_shrdi_epi64(top, _mm512_maskz_alignr_epi64(0xFF, topAfter, top, 1), 1));
            _mm512_mask_storeu_epi64(pairs + 8 * c, chunkLanes(words, c), _mm512_or_si512(loadChunk(pairs, words, c), pair));
            top = topAfter;
        }
        any = nonzero != 0;
    }
    addLevelsAvx512(levels, stride, count, words, n, out, st);
}

void rowDepths(const uint64_t* bits, int32_t w, int64_t n, int limit, uint8_t* out, uint64_t* levels, int level) {
    if (level >= 2) rowDepthsBy(bits, w, n, limit, out, levels, addLevelsAvx2);
    else rowDepthsBy(bits, w, n, limit, out, levels, addLevelsScalar);
}

// Byte 0 additions of one row from its final depths (padded with 255 at d[-1], d[w], d[w+1]) and
// its vertical marks: 0x02 where marked (depth non-zero), 0x04 for a centre mark.
void rowMarks(const uint8_t* d, const uint8_t* vertical, int32_t w, bool inner, uint8_t* out) {
    for (int32_t x = 0; x < w; ++x) {
        const int c = d[x];
        uint8_t v = static_cast<uint8_t>((c ? 0x02 : 0) | vertical[x]);
        if (inner && c && d[x - 1] < c && (d[x + 1] < c || (d[x + 1] == c && d[x + 2] < c))) v |= 0x04;
        out[x] = v;
    }
}

LUMO_SSSE3 int32_t rowMarksSsse3(const uint8_t* d, const uint8_t* vertical, int32_t w, bool inner, uint8_t* out) {
    const __m128i z = _mm_setzero_si128(), two = _mm_set1_epi8(2), four = _mm_set1_epi8(inner ? 4 : 0);
    auto lt = [](__m128i a, __m128i b) {  // unsigned a < b
        return _mm_andnot_si128(_mm_cmpeq_epi8(a, b), _mm_cmpeq_epi8(_mm_max_epu8(a, b), b));
    };
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x));
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x - 1));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x + 1));
        const __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x + 2));
        const __m128i on = _mm_andnot_si128(_mm_cmpeq_epi8(c, z), _mm_set1_epi8(-1));
        const __m128i centre = _mm_and_si128(
            _mm_and_si128(on, lt(l, c)), _mm_or_si128(lt(r, c), _mm_and_si128(_mm_cmpeq_epi8(r, c), lt(r2, c))));
        const __m128i v = _mm_or_si128(_mm_or_si128(_mm_and_si128(on, two), _mm_and_si128(centre, four)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(vertical + x)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), v);
    }
    return x;
}

// Unsigned a < b, byte by byte.
LUMO_AVX2 inline __m256i lt(__m256i a, __m256i b) { return simd::gtU8x2(b, a); }

// AVX2: rowMarks and writeRow in one loop, thirty-two pixels per step; returns the pixels done.
// The row written next (next) is fetched on the way. With Raw the row still holds its colour
// pixels and is grey-encoded on the way (flag 1, grey level (b + g + r) / 3).
template <bool Raw>
LUMO_AVX2 int32_t writeDepthRowAvx2(uint8_t* p, int32_t n, const uint8_t* d, const uint8_t* vertical, bool inner,
                                    const uint8_t* next) {
    const __m256i z = _mm256_setzero_si256(), two = _mm256_set1_epi8(2), four = _mm256_set1_epi8(inner ? 4 : 0);
    const __m256i flag = _mm256_set1_epi8(Raw ? 1 : 0);
    const PixelMerge merge = pixelMerge();
    int32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i - 1));
        const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + 1));
        const __m256i r2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + 2));
        const __m256i on = _mm256_xor_si256(_mm256_cmpeq_epi8(c, z), _mm256_set1_epi8(-1));
        const __m256i centre = _mm256_and_si256(
            _mm256_and_si256(on, lt(l, c)), _mm256_or_si256(lt(r, c), _mm256_and_si256(_mm256_cmpeq_epi8(r, c), lt(r2, c))));
        const __m256i o = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(on, two), _mm256_and_si256(centre, four)),
                                          _mm256_or_si256(flag, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(vertical + i))));
        uint8_t* a = p + 3 * int64_t{i};
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i}), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i} + 64), _MM_HINT_T0);
        __m256i raw[3];
        simd::load96(a, raw);
        mergePixels32<Raw>(a, raw, o, c, merge);
    }
    return i;
}

// writeDepthRowAvx2<true> sixty-four pixels a step; returns the pixels done.
LUMO_AVX512 int32_t writeDepthRowAvx512(uint8_t* p, int32_t n, const uint8_t* d, const uint64_t* vertical, bool inner,
                                        const uint8_t* next) {
    const __m512i one = _mm512_set1_epi8(1), two = _mm512_set1_epi8(2), four = _mm512_set1_epi8(4);
    int32_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i c = _mm512_loadu_si512(d + i);
        const uint64_t on = _mm512_test_epi8_mask(c, c);
        uint64_t centre = 0;
        if (inner) {
            const __m512i l = _mm512_loadu_si512(d + i - 1), r = _mm512_loadu_si512(d + i + 1);
            const __m512i r2 = _mm512_loadu_si512(d + i + 2);
            centre = _mm512_mask_cmplt_epu8_mask(on, l, c) &
                     (_mm512_cmplt_epu8_mask(r, c) | _mm512_mask_cmplt_epu8_mask(_mm512_cmpeq_epi8_mask(r, c), r2, c));
        }
        const __m512i o = _mm512_or_si512(_mm512_mask_mov_epi8(one, vertical[i >> 6], _mm512_or_si512(one, four)),
                                          _mm512_or_si512(_mm512_maskz_mov_epi8(on, two), _mm512_maskz_mov_epi8(centre, four)));
        uint8_t* a = p + 3 * int64_t{i};
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i}), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i} + 64), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(next + 3 * int64_t{i} + 128), _MM_HINT_T0);
        const simd::Raw3 raw = simd::load192(a);
        const __m512i grey = simd::grey64(raw);
        simd::store192(a, {simd::interleave3(0, o, grey, c), simd::interleave3(1, o, grey, c), simd::interleave3(2, o, grey, c)});
    }
    return i;
}

// Where Character Mode's arrays lie in the scratch: the depths, starts and B of every image row
// (one array after the other), the column state, and rings of four rows. Every row is `stride`
// bytes with kPad spare bytes either side.
struct CharacterLayout {
    static constexpr int64_t kPad = 64;
    int64_t width = 0, height = 0, padded = 0, stride = 0;
    explicit CharacterLayout(int64_t w, int64_t h)
        : width(w), height(h), padded(roundUp(std::max<int64_t>(w, 1), kLanes)), stride(padded + 2 * kPad) {
        // An odd number of cache lines from row to row: with a power-of-two stride the rows of a
        // column strip would all fall into a few sets of the cache, which could then hold under
        // half of a strip between the two strip passes.
        if ((stride / 64) % 2 == 0) stride += 64;
    }
    // Rows: depths, starts and B of the image rows; then phase, counter, met, bottom, zero, spare,
    // orBytes, vertical (one each); then the rings of new depths, meeting flags and vertical marks.
    static constexpr int64_t kSingle = 8;
    int64_t rows() const { return 3 * height + kSingle + 3 * 4; }
    size_t bytes() const { return size_t(rows() * stride); }
    uint8_t* row(uint8_t* base, int64_t index) const { return base + index * stride + kPad; }
};

// Writes row y of the image from its final depths f (padded) and vertical marks (bytes,
// or with AVX-512 a bit row that is made into bytes in `vertical` only for the narrower writers);
// with raw, the row still holds its colour pixels and is grey-encoded on the way.
void writeCharacterRow(const Image& im, int32_t y, uint8_t* f, uint8_t* vertical, const uint64_t* verticalBits,
                       uint8_t* orBytes, int level, bool raw, int32_t nextY) {
    const int32_t w = im.width, h = im.height;
    const bool inner = y >= 1 && y + 2 <= h;
    f[-1] = f[w] = f[w + 1] = 255;
    uint8_t* row = im.row(y);
    const uint8_t* next = nextY >= 0 && nextY < h ? im.row(nextY) : row;
    const int32_t wide = level >= 3 && raw ? writeDepthRowAvx512(row, w, f, verticalBits, inner, next) : 0;
    if (wide < w && verticalBits) verticalBytes(verticalBits, wordsOf(w), vertical);
    const int32_t fused = level < 2 ? 0
                          : wide + (raw ? writeDepthRowAvx2<true>(row + 3 * int64_t{wide}, w - wide, f + wide,
                                                                  vertical + wide, inner, next + 3 * int64_t{wide})
                                        : writeDepthRowAvx2<false>(row, w, f, vertical, inner, next));
    if (fused < w) {
        if (raw) encodeGrey(row + 3 * int64_t{fused}, w - fused);
        const int32_t done = level >= 1 ? fused + rowMarksSsse3(f + fused, vertical + fused, w - fused, inner, orBytes + fused) : fused;
        rowMarks(f + done, vertical + done, w - done, inner, orBytes + done);
        writeRow(row + 3 * int64_t{fused}, w - fused, orBytes + fused, f + fused, level, next);
    }
    f[-1] = f[w] = f[w + 1] = 0;
}

// Character Mode's arrays in the scratch, as CharacterLayout places them.
struct CharacterRows {
    const CharacterLayout& lay;
    uint8_t* base;
    int64_t h;
    uint8_t* single;
    CharacterRows(const CharacterLayout& layout, uint8_t* b)
        : lay(layout), base(b), h(layout.height), single(layout.row(b, 3 * layout.height)) {
        // The column state, the rings (row -1 of every ring reads as zeros) and the spare rows start clear.
        std::memset(single - CharacterLayout::kPad, 0, size_t((CharacterLayout::kSingle + 12) * lay.stride));
    }
    // Each array's rows follow each other in memory, so every pass walks each array as one
    // stream (the processor's prefetching follows a stream, not rows scattered between others).
    uint8_t* depths(int64_t y) const { return lay.row(base, y); }
    uint8_t* starts(int64_t y) const { return lay.row(base, h + y); }
    uint8_t* counts(int64_t y) const { return lay.row(base, 2 * h + y); }
    uint8_t* one(int index) const { return single + index * lay.stride; }  // phase, counter, met, ...
    uint8_t* ring(int kind, int64_t y) const { return single + (CharacterLayout::kSingle + kind * 4 + (y & 3)) * lay.stride; }
    // With AVX-512 the starts and the vertical marks are bits: their rows of words follow each other
    // where the starts' bytes would be (the starts of every row, then the vertical marks).
    uint64_t* startBits(int64_t y) const { return reinterpret_cast<uint64_t*>(starts(0)) + y * (lay.padded / 64); }
    uint64_t* verticalBits(int64_t y) const { return startBits(h + y); }
    template <class T>
    T* as(uint8_t* p) const { return reinterpret_cast<T*>(p); }
};

enum CharacterRow { kPhase, kCarried, kMet, kBottom, kZero, kSpare, kOrBytes, kVertical };

// The three passes with flags in bits and conditions in mask registers (AVX-512): pass 1 row by
// row, passes 2 and 3 strip by strip (they leave the final depths in place of the depths), then
// the image rows.
template <bool Nibbles>
void characterModeAvx512(const Image& im, RowMarks& marks, EffectScratch& sc, int limit, bool raw, const CharacterRows& at) {
    const int32_t w = im.width, h = im.height;
    const int64_t n = at.lay.padded, words = n / 64;
    uint64_t* const falling = at.as<uint64_t>(at.one(kPhase));
    for (int32_t y = 0; y < h; ++y) {
        const StartBits st{y > 0 ? at.depths(y - 1) : at.one(kZero), at.startBits(y),
                           y > 0 ? at.startBits(y - 1) : at.as<uint64_t>(at.one(kSpare)), falling};
        rowDepthsAvx512(marks.row(y), w, n, limit, at.depths(y), sc.depthLevels.data(), st);
    }
    const StripRows strips{at.depths(0), at.counts(0), at.startBits(0), at.verticalBits(0), at.lay.stride, words, h};
    stripPasses<Nibbles>(strips, n);
    // The image's rows in the order they lie in memory.
    for (int32_t i = 0; i < h; ++i) {
        const int32_t y = im.topDown ? i : h - 1 - i;
        writeCharacterRow(im, y, at.depths(y), at.one(kVertical), at.verticalBits(y), at.one(kOrBytes), 3, raw,
                          im.topDown ? y + 1 : y - 1);
    }
}

}  // namespace

size_t characterModeBytes(int32_t width, int32_t height) {
    return CharacterLayout(std::max(width, 1), std::max(height, 1)).bytes();
}

bool characterMode(const Image& im, RowMarks& marks, const EffectParams& pr, EffectScratch& sc, int level, bool raw) {
    const int32_t w = im.width, h = im.height;
    // Depths live in one byte; the cap keeps every later increase inside it.
    const int limit = std::clamp(pr.depthLimit, 1, 254);
    const CharacterLayout lay(w, h);
    const CharacterRows at(lay, sc.depthWork.data());
    if (level >= 3) {
        if (limit <= kNibbleLimit) characterModeAvx512<true>(im, marks, sc, limit, raw, at);
        else characterModeAvx512<false>(im, marks, sc, limit, raw, at);
        return true;
    }
    const int64_t n = lay.padded;
    // With a cap below 128 the depths leave bit 7 free for the starts: one array fewer to read.
    const bool packed = limit < 128;
    auto starts = [&](int64_t y) { return packed ? at.depths(y) : at.starts(y); };
    uint8_t* zero = at.one(kZero);
    const CharacterKernels kernels = characterKernels(level, packed);

    for (int32_t y = 0; y < h; ++y) {
        uint8_t* above = y > 0 ? starts(y - 1) : at.one(kSpare);
        const uint8_t* p = y > 0 ? at.depths(y - 1) : zero;
        rowDepths(marks.row(y), w, n, limit, at.depths(y), sc.depthLevels.data(), level);
        kernels.starts(at.depths(y), p, at.one(kPhase), above, starts(y), n);
    }
    for (int32_t y = h - 1; y >= 0; --y) {
        const bool last = y + 1 >= h;
        const uint8_t* dn = last ? zero : at.depths(y + 1);
        const uint8_t* sn = last ? zero : starts(y + 1);
        const uint8_t* bn = last ? zero : at.counts(y + 1);
        kernels.below(at.depths(y), dn, sn, bn, at.counts(y), at.depths(std::max(y - 1, 0)), starts(std::max(y - 1, 0)), n);
    }
    for (int32_t r = 0; r < h; ++r) {
        WalkRow wr;
        wr.d = at.depths(r);
        wr.b = at.counts(r);
        wr.s = starts(r);
        wr.a = at.one(kCarried);
        wr.met = at.one(kMet);
        wr.bottom = at.one(kBottom);
        wr.f0 = at.ring(0, r);
        wr.f1 = at.ring(0, r - 1);
        wr.f2 = at.ring(0, r - 2);
        wr.f3 = at.ring(0, r - 3);
        wr.m0 = at.ring(1, r);
        wr.m1 = at.ring(1, r - 1);
        wr.v0 = at.ring(2, r);
        wr.v1 = at.ring(2, r - 1);
        wr.v2 = at.ring(2, r - 2);
        wr.ahead = r + 1 < h ? at.depths(r + 1) - at.depths(r) : 0;
        wr.firstRow = r == 1 ? 0xFF : 0;
        wr.uInside = r >= 3 ? 0xFF : 0;
        kernels.walk(wr, n);
        if (r >= 2) writeCharacterRow(im, r - 2, at.ring(0, r - 2), at.ring(2, r - 2), nullptr, at.one(kOrBytes), level, raw, r - 1);
    }
    for (int32_t y = std::max(0, h - 2); y < h; ++y)
        writeCharacterRow(im, y, at.ring(0, y), at.ring(2, y), nullptr, at.one(kOrBytes), level, raw, y + 1);
    return true;
}

}  // namespace lumo::fx
