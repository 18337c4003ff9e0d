// Shared machinery of the binarization code: the image view of a ScanContext, normalisation,
// the colour and comparison rules, the pixel-rule family and the cell test.
#pragma once

#include <cstdint>

#include "imaging/lumoutil.h"

namespace lumo {

// Rows of an opened 24-bit DIB in image order (row 0 = top), whatever the storage order.
struct Image {
    uint8_t* bits = nullptr;
    int64_t stride = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool topDown = false;
    uint8_t* row(int32_t y) const { return bits + (topDown ? int64_t{y} : int64_t{height} - 1 - y) * stride; }
    // Address of row 0 and the signed step between rows, for walking columns.
    uint8_t* top() const { return row(0); }
    int64_t rowStep() const { return topDown ? stride : -stride; }
};

// Checks that the context holds a locked, consistent 24-bit DIB and a condition, then writes
// the normalised limits back. False (nothing written) when the context cannot be scanned.
bool openScan(ScanContext* ctx, Image& image);

// A window of pixels clamped to the image: columns x0..x1-1, rows y0..y1-1 (may be empty).
struct Window {
    int32_t x0, x1, y0, y1;
};
Window clampWindow(int64_t left, int64_t right, int64_t top, int64_t bottom, const Image& im);

// Comparison value m (1..6) and colour value c (0..7) of a mode.
inline int comparisonOf(uint16_t mode) {
    const int m = mode & 0x000F;
    return (m == 0 || m > 6) ? 5 : m;
}
inline int colourOf(uint16_t mode) { return (mode >> 4) & 7; }

// Both rules give 0 or 1 as an int, so callers combine them with & and | without branches.
template <int C>
inline int colourOk(int b, int g, int r) {
    if constexpr (C == 0) return 1;
    else if constexpr (C == 1 || C == 3 || C == 5) return int(r > g) & int(r > b);
    else if constexpr (C == 2 || C == 6) return int(g > b) & int(g > r);
    else if constexpr (C == 4) return int(b > g) & int(b > r);
    else return int(r == g) & int(g == b);
}

// Comparison m of a value with bounds lo/hi (see RuleParams).
template <int M>
inline int compare(int v, int lo, int hi) {
    if constexpr (M == 1) return int(v > hi);
    else if constexpr (M == 2) return int(v >= lo) & int(v <= hi);
    else if constexpr (M == 3) return int(v >= lo);
    else if constexpr (M == 4) return int(v < lo);
    else if constexpr (M == 5) return int(v < lo) | int(v > hi);
    else return int(v <= hi);
}

// Bounds of a comparison. On colour pixels they apply to the sum b+g+r, so the grey level
// (sum / 3) never has to be divided out: single threshold lo = 3T, hi = 3T + 2; range lo = 3Min,
// hi = 3Max + 2. On pre-scanned pixels they apply to the grey byte: lo = T or Min, hi = T or Max.
// flagOff is 1 when the qualify flag is not required, 0 when it is; bits is the mark of case 3.
struct RuleParams {
    int lo = 0;
    int hi = 0;
    uint8_t flagOff = 1;
    uint8_t bits = 0;
};

// One member of the pixel-rule family: does any of count pixels from p meet the rule?
using SegmentTest = bool (*)(const RuleParams&, const uint8_t* p, int32_t count);

struct PixelRule {
    SegmentTest test = nullptr;
    RuleParams params;
};

// Picks the rule once for a batch of cell tests from the condition's mode and thresholds, with
// the widest loops the processor has up to maxLevel (0 scalar, 1 SSSE3, 2 AVX2; tests compare them).
PixelRule selectRule(const BinCondition& cond, int maxLevel = 2);

// The cell test: yes when a pixel of the cell at (cellX, cellY), cut by the limits and the image,
// meets the rule.
bool cellTest(const Image& im, int32_t limitX, int32_t limitY, int64_t cellX, int64_t cellY, int64_t cellW,
              int64_t cellH, const PixelRule& rule);

// Pixels the pre-scan takes row by row as it encodes, for an image not filled yet: fill(self, y,
// row) writes image row y (0 = top) as 24-bit BGR. Called once per row, from the scan's threads.
struct RowSource {
    void (*fill)(const void* self, int32_t y, uint8_t* row) = nullptr;
    // Optional, to encode straight from the source: row y's pixels as 0x??RRGGBB, count of them
    // from column left (left >= 0, left + count <= the width), the rest of the row black.
    const uint32_t* (*pixels)(const void* self, int32_t y, int32_t& left, int32_t& count) = nullptr;
    const void* self = nullptr;
};

// lumoPreScan, with the image's rows first taken from source when it is not null. Every row is
// filled whenever the context can be opened, also when the scan then fails.
int32_t preScan(ScanContext* ctx, const RowSource* source);

// Steps 5 to 7 of the automatic threshold, on the condition's histogram with n counted pixels.
void autoThreshold(BinCondition& cond, uint32_t n);

}  // namespace lumo
