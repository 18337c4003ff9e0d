// The library's bitmap object (32-bit pixels, top-down) and its conversions to and from
// 24-bit bottom-up packed DIBs.
#pragma once

#include <memory>

#include "imaging/dib_block.h"

namespace lumo {

// A black bitmap, or null when the size is not positive, beyond the limits or memory runs out.
LumoBitmap* newBitmap(int32_t width, int32_t height);
void deleteBitmap(LumoBitmap* bitmap);

struct BitmapDeleter {
    void operator()(LumoBitmap* b) const { deleteBitmap(b); }
};
using BitmapPtr = std::unique_ptr<LumoBitmap, BitmapDeleter>;

// A 24-bit bottom-up packed DIB of the bitmap (no colour table); null on failure.
LumoDibBlock* bitmapToDib24(const LumoBitmap& bitmap);

}  // namespace lumo
