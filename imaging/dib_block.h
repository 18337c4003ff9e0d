// Packed DIBs in movable memory blocks: the block object behind LumoHGLOBAL, the layout rules
// (colour count, stride, table size) and the bounds every reader and decoder checks first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "imaging/lumoutil.h"

// A zero-filled block with a lock count, standing in for a movable global memory block.
struct LumoDibBlock {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
    int lockCount = 0;
    bool heldByCapture = false;  // owned by a LumoCapture: lumoCloseDib does not free it
};

namespace lumo {

inline constexpr uint32_t kBiRgb = 0;
inline constexpr uint32_t kBiRle8 = 1;
inline constexpr uint32_t kBiRle4 = 2;
inline constexpr uint32_t kBiBitfields = 3;
inline constexpr size_t kInfoHeaderSize = 40;

// Size bounds applied to every image the library creates or reads: a file cannot make the
// library allocate more than about maxPixels * 8 bytes. A file must also back what it claims:
// an image larger than freePixels may claim at most pixelsPerFileByte pixels per byte of the
// file (the densest ordinary encoding, an RLE8 run, packs 255 pixels into 2 bytes), so a short
// file cannot make the library allocate hundreds of megabytes.
struct ImageLimits {
    int64_t maxDimension = 1 << 20;
    int64_t maxPixels = int64_t{1} << 27;
    int64_t freePixels = int64_t{1} << 22;  // 2048 x 2048, 16 MiB decoded
    int64_t pixelsPerFileByte = 128;
};

// Null when memory runs out or size exceeds the bound of ImageLimits.
LumoDibBlock* allocBlock(size_t size);
// Grows (zero-filling) or shrinks the block; false leaves it unchanged.
bool resizeBlock(LumoDibBlock* block, size_t size);
void freeBlock(LumoDibBlock* block);
// Lock: pointer to the data (null for a null block); unlock lowers the lock count.
uint8_t* lockBlock(LumoDibBlock* block);
void unlockBlock(LumoDibBlock* block);

// Converts n pixels 0x??RRGGBB (bits 24-31 ignored) into 24-bit BGR bytes at out (3 * n bytes
// written, nothing beyond).
void pixelsToBgr(const uint32_t* in, uint8_t* out, int32_t n);

// The colour count of the rules: biClrUsed, else 2/16/256 for 1/4/8 bits, else 0.
uint32_t colourCount(const LumoBitmapInfoHeader& h);
// Bytes per row, padded to 4: ((bits * width + 31) / 32) * 4, computed without overflow.
int64_t rowStride(int64_t bits, int64_t width);

// What a header means once checked: everything a decoder needs to index the block safely.
struct DibLayout {
    int32_t width = 0;
    int32_t height = 0;  // |biHeight|
    bool topDown = false;
    uint16_t bits = 0;
    uint32_t compression = kBiRgb;
    uint32_t colours = 0;      // colour-table entries
    size_t maskBytes = 0;      // 12 for bit-field masks kept ahead of the colour table
    size_t tableBytes = 0;     // masks + colours * 4
    size_t stride = 0;         // of the stored (uncompressed) rows
    size_t pixelBytes = 0;     // uncompressed: stride * height; compressed: biSizeImage
};

// Checks depth, compression, sizes and table against the limits; nullopt for anything the
// library does not load.
std::optional<DibLayout> describeDib(const LumoBitmapInfoHeader& h, const ImageLimits& limits = {});

}  // namespace lumo
