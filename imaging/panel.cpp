// Pin panels and dot maps: construction, reducing an image region to a panel (lumoSetPanel) and
// combining maps with panels (lumoDotOperation).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/scan.h"

using namespace lumo;

namespace {

// Header and data share one zeroed allocation; the data starts right behind the header.
template <class Record>
Record* allocRecord(int32_t width, int32_t height, int64_t dataBytes) {
    if (width < 0 || height < 0 || dataBytes > (int64_t{1} << 30)) return nullptr;
    void* mem = std::calloc(1, sizeof(Record) + static_cast<size_t>(dataBytes));
    if (!mem) return nullptr;
    auto* r = static_cast<Record*>(mem);
    r->lpData = static_cast<uint8_t*>(mem) + sizeof(Record);
    return r;
}

constexpr int32_t kChunk = 256;  // panel columns handled together by lumoSetPanel

}  // namespace

TAVIK_API DotPanel* lumoNewPanel(int32_t width, int32_t height) {
    const int64_t size = int64_t{width} * ((int64_t{height} + 7) / 8);
    if (size > INT32_MAX) return nullptr;
    auto* p = allocRecord<DotPanel>(width, height, size);
    if (!p) return nullptr;
    p->nStride = width;
    p->nSize = static_cast<int32_t>(size);
    p->nWidth = width;
    p->nHeight = height;
    return p;
}

TAVIK_API DotMap* lumoNewDotMap(int32_t width, int32_t height) {
    auto* m = allocRecord<DotMap>(width, height, int64_t{width} * height);
    if (!m) return nullptr;
    m->nAllocWidth = m->nWidth = width;
    m->nAllocHeight = m->nHeight = height;
    return m;
}

TAVIK_API void lumoClearDotMap(DotMap* map, int32_t width, int32_t height) {
    if (!map) return;
    map->nWidth = std::max(0, std::min(map->nAllocWidth, width));
    map->nHeight = std::max(0, std::min(map->nAllocHeight, height));
    if (!map->lpData || map->nAllocWidth <= 0) return;
    for (int32_t y = 0; y < map->nHeight; ++y)
        std::memset(map->lpData + size_t(y) * size_t(map->nAllocWidth), 0, size_t(map->nWidth));
}

TAVIK_API void lumoFreePanel(void* block) { std::free(block); }
TAVIK_API void lumoFreeDotMap(void* block) { std::free(block); }

// Builds the panel band by band. For one pin row the cells of all columns are swept image row by
// image row, so the pixels are read in storage order; a cell stops being tested at its first hit.
// The result equals testing every cell on its own.
TAVIK_API void lumoSetPanel(ScanContext* ctx, DotPanel* panel) {
    if (!panel || !panel->lpData || panel->nWidth <= 0 || panel->nHeight <= 0 || panel->nStride < 0) return;
    const int64_t bands = (int64_t{panel->nHeight} + 7) / 8;
    Image im;
    const bool usable = openScan(ctx, im) && ctx->nCellWidth > 0 && ctx->nCellHeight > 0;
    if (!usable) {
        // Nothing can be tested: every pin is lowered.
        for (int64_t b = 0; b < bands; ++b)
            for (int32_t x = 0; x < panel->nWidth; ++x)
                if (b * panel->nStride + x < panel->nSize) panel->lpData[b * panel->nStride + x] = 0;
        return;
    }
    const PixelRule rule = selectRule(*ctx->lpCondition);
    const int64_t cw = ctx->nCellWidth, ch = ctx->nCellHeight;
    const int64_t ox = ctx->nOriginX, oy = ctx->nOriginY;
    const int64_t limX = std::min<int64_t>(ctx->nLimitX, im.width), limY = std::min<int64_t>(ctx->nLimitY, im.height);

    for (int32_t xs = 0; xs < panel->nWidth; xs += kChunk) {
        const int32_t count = std::min(kChunk, panel->nWidth - xs);
        // Column span of every cell of the chunk, cut by the limits (empty when x1 <= x0).
        int32_t cx0[kChunk], cx1[kChunk];
        for (int32_t i = 0; i < count; ++i) {
            const int64_t left = (xs + i) * cw + ox;
            cx0[i] = static_cast<int32_t>(std::clamp<int64_t>(left, 0, std::max<int64_t>(limX, 0)));
            cx1[i] = static_cast<int32_t>(std::clamp<int64_t>(left + cw, 0, std::max<int64_t>(limX, 0)));
        }
        for (int64_t b = 0; b < bands; ++b) {
            uint8_t bytes[kChunk] = {};
            for (int k = 0; k < 8; ++k) {
                const int64_t top = (b * 8 + k) * ch + oy;
                const int64_t y0 = std::max<int64_t>(top, 0), y1 = std::min(top + ch, limY);
                if (y1 <= y0) continue;
                const uint8_t bit = static_cast<uint8_t>(1u << k);
                int32_t open = 0;  // cells still without a hit
                for (int32_t i = 0; i < count; ++i) open += cx1[i] > cx0[i];
                uint8_t done[kChunk];
                for (int32_t i = 0; i < count; ++i) done[i] = cx1[i] <= cx0[i];
                for (int64_t y = y0; y < y1 && open > 0; ++y) {
                    const uint8_t* row = im.row(static_cast<int32_t>(y));
                    // Adjacent open cells are tested as one span first: a span without a hit (the
                    // common case) costs one vector loop; a hit is then found cell by cell, which
                    // closes at least one cell, so each pixel is read at most twice per row.
                    for (int32_t i = 0; i < count;) {
                        if (done[i]) {
                            ++i;
                            continue;
                        }
                        int32_t j = i + 1;
                        while (j < count && !done[j] && cx0[j] == cx1[j - 1]) ++j;
                        if (j - i > 1 && !rule.test(rule.params, row + 3 * int64_t{cx0[i]}, cx1[j - 1] - cx0[i])) {
                            i = j;
                            continue;
                        }
                        for (; i < j; ++i)
                            if (rule.test(rule.params, row + 3 * int64_t{cx0[i]}, cx1[i] - cx0[i])) {
                                done[i] = 1;
                                bytes[i] |= bit;
                                --open;
                            }
                    }
                }
            }
            for (int32_t i = 0; i < count; ++i) {
                const int64_t at = b * panel->nStride + xs + i;
                if (at < panel->nSize) panel->lpData[at] = bytes[i];
            }
        }
    }
    // The last cell tested is the one of column 0, row 0.
    ctx->nCellX = static_cast<int32_t>(ox);
    ctx->nCellY = static_cast<int32_t>(oy);
}

TAVIK_API int32_t lumoDotOperation(DotOpRequest* req, DotPanel* panel) {
    if (!req || !panel || !req->lpMap || !panel->lpData || panel->nStride < 0 || panel->nSize < 0) return 0;
    const DotMap& map = *req->lpMap;
    const int op = req->bOperation;
    const bool hasData = map.lpData != nullptr;
    if (op > 6) return hasData ? 1 : 0;

    // Map columns i0..i1-1 and rows j0..j1-1 (clipped to the panel's right and bottom edges).
    const int64_t mapX = req->nMapX, mapY = req->nMapY;
    const int64_t i0 = mapX, j0 = mapY;
    int64_t i1 = mapX + std::min<int64_t>(req->nWidth, int64_t{panel->nWidth} - req->nPanelX);
    int64_t j1 = mapY + std::min<int64_t>(req->nHeight, int64_t{panel->nHeight} - req->nPanelY);
    const int64_t dx = req->nPanelX - mapX, dy = req->nPanelY - mapY;
    // Pairs whose panel dot lies left of or above the panel are skipped.
    int64_t first_i = std::max(i0, -dx), first_j = std::max(j0, -dy);

    if (op == DOTOP_READ) {
        if (!hasData || map.nAllocWidth < i1 || map.nAllocHeight < j1) return 0;
        first_i = std::max<int64_t>(first_i, 0);
        first_j = std::max<int64_t>(first_j, 0);
        for (int64_t j = first_j; j < j1; ++j)
            for (int64_t i = first_i; i < i1; ++i) {
                const int64_t px = i + dx, py = j + dy;
                const int64_t at = (py / 8) * panel->nStride + px;
                if (at >= panel->nSize) continue;
                if (panel->lpData[at] & (1u << (py & 7))) map.lpData[j * map.nAllocWidth + i] |= 1;
            }
        return 1;
    }
    if (hasData) {
        // The used size is a header field like any other: never beyond the allocation.
        i1 = std::min<int64_t>(i1, std::min(map.nWidth, map.nAllocWidth));
        j1 = std::min<int64_t>(j1, std::min(map.nHeight, map.nAllocHeight));
        first_i = std::max<int64_t>(first_i, 0);
        first_j = std::max<int64_t>(first_j, 0);
    } else if (op != DOTOP_RAISE && op != DOTOP_LOWER && op != DOTOP_FRAME) {
        return 0;
    }
    const int64_t lastCol = mapX + int64_t{req->nWidth} - 1, lastRow = mapY + int64_t{req->nHeight} - 1;
    for (int64_t i = first_i; i < i1; ++i) {
        const int64_t px = i + dx;
        const bool edgeCol = i == mapX || i == lastCol;
        // Runs of rows within one band: each panel byte is read and written once per run.
        for (int64_t j = first_j; j < j1;) {
            const int64_t py = j + dy;
            const int64_t band = py / 8;
            const int64_t runEnd = std::min(j1, j + (8 - (py & 7)));
            uint8_t mask = 0, value = 0;
            for (int64_t jj = j; jj < runEnd; ++jj) {
                const uint8_t bit = static_cast<uint8_t>(1u << ((jj + dy) & 7));
                bool on;
                switch (op) {
                case DOTOP_RAISE: on = true; break;
                case DOTOP_LOWER: on = false; break;
                case DOTOP_FRAME: on = edgeCol || jj == mapY || jj == lastRow; break;
                default: on = map.lpData[jj * map.nAllocWidth + i] != 0; break;
                }
                mask |= bit;
                if (on) value |= bit;
            }
            const int64_t at = band * panel->nStride + px;
            if (at < panel->nSize) {
                uint8_t& cell = panel->lpData[at];
                if (op == DOTOP_OR) cell |= value;
                else if (op == DOTOP_AND) cell &= static_cast<uint8_t>(~(mask & ~value));
                else cell = static_cast<uint8_t>((cell & ~mask) | value);
            }
            j = runEnd;
        }
    }
    return 1;
}
