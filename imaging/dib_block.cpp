// Movable memory blocks and the layout rules of packed DIBs.
#include "imaging/dib_block.h"

#include <cstring>
#include <new>

namespace lumo {

namespace {
// Largest block the library ever makes: the biggest allowed image at 32 bits plus headers.
constexpr size_t kMaxBlock = (size_t{1} << 27) * 4 + 4096;
}  // namespace

LumoDibBlock* allocBlock(size_t size) {
    if (size > kMaxBlock) return nullptr;
    auto block = std::unique_ptr<LumoDibBlock>(new (std::nothrow) LumoDibBlock);
    if (!block) return nullptr;
    block->data.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]());
    if (!block->data) return nullptr;
    block->size = size;
    return block.release();
}

bool resizeBlock(LumoDibBlock* block, size_t size) {
    if (!block || size > kMaxBlock) return false;
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size == 0 ? 1 : size]());
    if (!data) return false;
    std::memcpy(data.get(), block->data.get(), size < block->size ? size : block->size);
    block->data = std::move(data);
    block->size = size;
    return true;
}

void freeBlock(LumoDibBlock* block) { delete block; }

uint8_t* lockBlock(LumoDibBlock* block) {
    if (!block) return nullptr;
    ++block->lockCount;
    return block->data.get();
}

void unlockBlock(LumoDibBlock* block) {
    if (block && block->lockCount > 0) --block->lockCount;
}

uint32_t colourCount(const LumoBitmapInfoHeader& h) {
    if (h.biClrUsed != 0) return h.biClrUsed;
    switch (h.biBitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

int64_t rowStride(int64_t bits, int64_t width) { return ((bits * width + 31) / 32) * 4; }

std::optional<DibLayout> describeDib(const LumoBitmapInfoHeader& h, const ImageLimits& limits) {
    DibLayout d;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return std::nullopt;
    const int64_t w = h.biWidth;
    const int64_t ah = h.biHeight < 0 ? -int64_t{h.biHeight} : int64_t{h.biHeight};
    if (w > limits.maxDimension || ah > limits.maxDimension || w * ah > limits.maxPixels) return std::nullopt;
    switch (h.biBitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return std::nullopt;
    }
    switch (h.biCompression) {
    case kBiRgb: break;
    case kBiRle8: if (h.biBitCount != 8 || h.biHeight < 0) return std::nullopt; break;
    case kBiRle4: if (h.biBitCount != 4 || h.biHeight < 0) return std::nullopt; break;
    case kBiBitfields: if (h.biBitCount != 16 && h.biBitCount != 32) return std::nullopt; break;
    default: return std::nullopt;
    }
    const uint32_t colours = colourCount(h);
    if (colours > 256) return std::nullopt;  // no depth uses more; refuses absurd tables
    d.width = static_cast<int32_t>(w);
    d.height = static_cast<int32_t>(ah);
    d.topDown = h.biHeight < 0;
    d.bits = h.biBitCount;
    d.compression = h.biCompression;
    d.colours = colours;
    d.maskBytes = h.biCompression == kBiBitfields ? 12 : 0;
    d.tableBytes = d.maskBytes + size_t{colours} * 4;
    d.stride = static_cast<size_t>(rowStride(h.biBitCount, w));
    const bool compressed = h.biCompression == kBiRle8 || h.biCompression == kBiRle4;
    d.pixelBytes = compressed ? h.biSizeImage : d.stride * static_cast<size_t>(ah);
    return d;
}

}  // namespace lumo
