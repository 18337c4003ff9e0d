// Fuzz target of the BMP reader: any bytes go through the header, table and pixel reader, the
// decoder and, for small images that load, the pre-scan, effects (checked against the reference
// copy of their earlier code) and panel code.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/bitmap.h"
#include "imaging/bmp_read.h"
#include "tests/imaging/reference_effects.h"

namespace {
struct BlockDeleter {
    void operator()(LumoDibBlock* b) const { lumo::freeBlock(b); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Smaller bounds than the library's, so one input costs well under a millisecond: every
    // decoding path, the refusal of a size over the bounds and every vector width of the pipeline
    // (a row of up to 4096 pixels) are reached as well with 4 K pixels as with more.
    lumo::ImageLimits limits;
    limits.maxDimension = 4096;
    limits.maxPixels = 1 << 12;
    lumo::MemorySource src({data, size});
    std::unique_ptr<LumoDibBlock, BlockDeleter> header(lumo::readPackedDib(src, false, limits));
    std::unique_ptr<LumoDibBlock, BlockDeleter> dib(lumo::readPackedDib(src, true, limits));
    if (!dib) return 0;
    lumo::BitmapPtr bm(lumo::decodePackedDib(*dib, limits));
    if (!bm || size < 2) return 0;

    // Run the image pipeline on what loaded, with a condition taken from the last input bytes.
    ScanContext ctx{};
    BinCondition cond{};
    ctx.dib.hBitmap = bm.get();
    if (!lumoOpenDib(&ctx.dib)) return 0;
    cond.bMode = static_cast<uint16_t>(data[size - 1] | (data[size - 2] << 8));
    cond.fAutoThreshfold = data[size - 1] & 1;
    cond.bThreshfold = data[size / 2];
    cond.bThreshfoldMin = data[size / 3];
    cond.bThreshfoldMax = data[size / 4];
    ctx.lpCondition = &cond;
    ctx.nLimitX = ctx.nLimitY = ctx.nHistRight = ctx.nHistBottom = -1;
    ctx.nCellWidth = 1 + data[size / 5] % 9;
    ctx.nCellHeight = 1 + data[size / 6] % 9;
    ctx.nOriginX = static_cast<int8_t>(data[size / 7]);
    ctx.nLineThickness = 2;
    ctx.nHLineLength = 30;
    ctx.nVLineLength = 20;
    ctx.nDepthLimit = data[size / 8];
    // The effects are checked against the reference copy of their earlier code: the same picture
    // pre-scanned without the effect, then marked and thinned by the reference.
    ScanContext ref = ctx;
    BinCondition refCond = cond;
    ref.lpCondition = &refCond;
    ref.dib.hDib = nullptr;
    const uint16_t effects = BIN_ERASE_GRID | BIN_OUTLINE | BIN_CHARACTER;
    const bool checkEffect = (cond.bMode & effects) != 0 && lumoOpenDib(&ref.dib);
    refCond.bMode = static_cast<uint16_t>(cond.bMode & ~effects);
    const int32_t got = lumoPreScan(&ctx);
    if (checkEffect) {
        const int32_t want = lumoPreScan(&ref);
        if (got != want) __builtin_trap();
        if (want) {
            lumo::Image im;
            im.bits = ref.dib.lpBits;
            im.stride = ref.dib.nStride;
            im.width = ref.dib.nWidth;
            im.height = ref.dib.nHeight;
            im.topDown = ref.dib.lpbi->biHeight < 0;
            const bool range = refCond.bMode & BIN_RANGE;
            lumoref::markImage(im, lumo::comparisonOf(refCond.bMode), range ? refCond.bThreshfoldMin : refCond.bThreshfold,
                               range ? refCond.bThreshfoldMax : refCond.bThreshfold);
            if (cond.bMode & BIN_ERASE_GRID) lumoref::eraseGridLines(im, ctx.nLineThickness, ctx.nHLineLength, ctx.nVLineLength);
            else if (cond.bMode & BIN_OUTLINE) lumoref::outline(im);
            else lumoref::characterMode(im, ctx.nDepthLimit);
        }
        const size_t bytes = size_t(ctx.dib.nStride) * size_t(ctx.dib.nHeight);
        if (std::memcmp(ctx.dib.lpBits, ref.dib.lpBits, bytes) != 0) __builtin_trap();
        lumoCloseDib(&ref.dib);
    }
    DotPanel* panel = lumoNewPanel(17, 13);
    lumoSetPanel(&ctx, panel);
    lumoFreePanel(panel);
    lumoFindDot(&ctx, 0xFFFFFF);
    lumoCloseDib(&ctx.dib);
    return 0;
}
