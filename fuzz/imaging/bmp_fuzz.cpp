// Fuzz target of the BMP reader: any bytes go through the header, table and pixel reader, the
// decoder and, for small images that load, the pre-scan, effects and panel code.
#include <cstddef>
#include <cstdint>

#include "imaging/bitmap.h"
#include "imaging/bmp_read.h"

namespace {
struct BlockDeleter {
    void operator()(LumoDibBlock* b) const { lumo::freeBlock(b); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Smaller bounds than the library's, so one input never costs more than a few milliseconds.
    lumo::ImageLimits limits;
    limits.maxDimension = 4096;
    limits.maxPixels = 1 << 18;
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
    lumoPreScan(&ctx);
    DotPanel* panel = lumoNewPanel(17, 13);
    lumoSetPanel(&ctx, panel);
    lumoFreePanel(panel);
    lumoFindDot(&ctx, 0xFFFFFF);
    lumoCloseDib(&ctx.dib);
    return 0;
}
