// Bitmap objects: one allocation holding the record and its pixels; conversion to 24-bit DIBs.
#include "imaging/bitmap.h"

#include <cstdlib>
#include <cstring>

namespace lumo {

LumoBitmap* newBitmap(int32_t width, int32_t height) {
    const ImageLimits limits;
    if (width <= 0 || height <= 0 || width > limits.maxDimension || height > limits.maxDimension ||
        int64_t{width} * height > limits.maxPixels)
        return nullptr;
    const size_t pixels = size_t(width) * size_t(height);
    // Header and pixels in one zeroed block; the pixels start at a 16-byte boundary.
    constexpr size_t head = (sizeof(LumoBitmap) + 15) & ~size_t{15};
    void* mem = std::calloc(1, head + pixels * 4);
    if (!mem) return nullptr;
    auto* b = static_cast<LumoBitmap*>(mem);
    b->nWidth = width;
    b->nHeight = height;
    b->lpPixels = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(mem) + head);
    return b;
}

void deleteBitmap(LumoBitmap* bitmap) { std::free(bitmap); }

LumoDibBlock* bitmapToDib24(const LumoBitmap& bm) {
    if (bm.nWidth <= 0 || bm.nHeight <= 0 || !bm.lpPixels) return nullptr;
    const size_t stride = static_cast<size_t>(rowStride(24, bm.nWidth));
    const size_t image = stride * size_t(bm.nHeight);
    LumoDibBlock* block = allocBlock(kInfoHeaderSize + image);
    if (!block) return nullptr;
    LumoBitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = bm.nWidth;
    h.biHeight = bm.nHeight;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biSizeImage = static_cast<uint32_t>(image);
    std::memcpy(block->data.get(), &h, sizeof h);
    uint8_t* bits = block->data.get() + kInfoHeaderSize;
    for (int32_t y = 0; y < bm.nHeight; ++y) {
        const uint32_t* src = bm.lpPixels + size_t(y) * size_t(bm.nWidth);
        uint8_t* dst = bits + size_t(bm.nHeight - 1 - y) * stride;
        for (int32_t x = 0; x < bm.nWidth; ++x) {
            const uint32_t c = src[x];
            dst[3 * x] = static_cast<uint8_t>(c);
            dst[3 * x + 1] = static_cast<uint8_t>(c >> 8);
            dst[3 * x + 2] = static_cast<uint8_t>(c >> 16);
        }
    }
    return block;
}

}  // namespace lumo
