// Bitmap objects: one allocation holding the record and its pixels; conversion to 24-bit DIBs.
#include "imaging/bitmap.h"

#include <cstdlib>
#include <cstring>

#include "imaging/simd_pixels.h"

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

namespace {

// Eight pixels per step: each lane packs its four pixels into its low 12 bytes, then the two
// 12-byte groups are joined and stored with 32 bytes (the last 8 overwritten by the next step).
LUMO_AVX2 int32_t pixelsToBgrAvx2(const uint32_t* in, uint8_t* out, int32_t n) {
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                          0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    int32_t i = 0;
    // A step writes 32 bytes from 3 * i: stay within the 3 * n bytes of the row.
    for (; int64_t{i} * 3 + 32 <= int64_t{n} * 3; i += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, pack), join);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 3 * size_t(i)), packed);
    }
    return i;
}

// Four pixels per step, stored with 16 bytes (the last 4 overwritten by the next step).
LUMO_SSSE3 int32_t pixelsToBgrSsse3(const uint32_t* in, uint8_t* out, int32_t n) {
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int32_t i = 0;
    for (; int64_t{i} * 3 + 16 <= int64_t{n} * 3; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * size_t(i)), _mm_shuffle_epi8(v, pack));
    }
    return i;
}

}  // namespace

void pixelsToBgr(const uint32_t* in, uint8_t* out, int32_t n) {
    int32_t i = 0;
    if (simd::hasAvx2()) i = pixelsToBgrAvx2(in, out, n);
    else if (simd::hasSsse3()) i = pixelsToBgrSsse3(in, out, n);
    for (; i < n; ++i) {
        const uint32_t c = in[i];
        out[3 * size_t(i)] = static_cast<uint8_t>(c);
        out[3 * size_t(i) + 1] = static_cast<uint8_t>(c >> 8);
        out[3 * size_t(i) + 2] = static_cast<uint8_t>(c >> 16);
    }
}

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
        pixelsToBgr(src, bits + size_t(bm.nHeight - 1 - y) * stride, bm.nWidth);
    }
    return block;
}

}  // namespace lumo
