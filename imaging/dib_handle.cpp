// Opening a bitmap as a locked 24-bit DIB (DibHandle life cycle), and reading bitmap pixels.
#include <cstring>

#include "imaging/bitmap.h"

TAVIK_API int32_t lumoLockDib(DibHandle* dib) {
    if (!dib || !dib->hDib) return 0;
    uint8_t* base = lumo::lockBlock(dib->hDib);
    if (!base || dib->hDib->size < lumo::kInfoHeaderSize) {
        lumo::unlockBlock(dib->hDib);
        return 0;
    }
    auto* h = reinterpret_cast<LumoBitmapInfoHeader*>(base);
    const auto layout = lumo::describeDib(*h);
    // Only a complete 24-bit DIB can be walked with the 24-bit stride.
    if (!layout || h->biBitCount != 24 || layout->compression != lumo::kBiRgb ||
        lumo::kInfoHeaderSize + layout->tableBytes + layout->pixelBytes > dib->hDib->size) {
        lumo::unlockBlock(dib->hDib);
        return 0;
    }
    dib->lpbi = h;
    dib->lpBits = base + lumo::kInfoHeaderSize + layout->tableBytes;
    dib->nHeight = layout->height;
    dib->nWidth = layout->width;
    dib->nStride = static_cast<int32_t>(lumo::rowStride(24, layout->width));
    return 1;
}

TAVIK_API void lumoUnlockDib(DibHandle* dib) {
    if (dib && dib->hDib) lumo::unlockBlock(dib->hDib);
}

TAVIK_API void lumoCloseDib(DibHandle* dib) {
    if (!dib || !dib->hDib) return;
    lumo::unlockBlock(dib->hDib);
    if (!dib->hDib->heldByCapture) lumo::freeBlock(dib->hDib);
    dib->hDib = nullptr;
    dib->lpbi = nullptr;
    dib->lpBits = nullptr;
}

TAVIK_API int32_t lumoOpenDib(DibHandle* dib) {
    if (!dib) return 0;
    if (dib->hBitmap) dib->hDib = lumo::bitmapToDib24(*dib->hBitmap);
    if (lumoLockDib(dib)) return 1;
    lumo::freeBlock(dib->hDib);
    dib->hDib = nullptr;
    return 0;
}

TAVIK_API int32_t lumoGetPixelFromBmp(uint8_t* bgr, LumoHBITMAP hBitmap, int32_t x, int32_t y) {
    if (!bgr || !hBitmap || !hBitmap->lpPixels) return 0;
    if (x < 0 || y < 0 || x >= hBitmap->nWidth || y >= hBitmap->nHeight) {
        bgr[0] = bgr[1] = bgr[2] = 255;  // the invalid-colour value
        return 1;
    }
    const uint32_t c = hBitmap->lpPixels[size_t(y) * size_t(hBitmap->nWidth) + size_t(x)];
    bgr[0] = static_cast<uint8_t>(c);
    bgr[1] = static_cast<uint8_t>(c >> 8);
    bgr[2] = static_cast<uint8_t>(c >> 16);
    return 1;
}
