// Exported BMP file functions (load, save, properties) and the bitmap constructor/destructor.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "imaging/bitmap.h"
#include "imaging/bmp_read.h"

namespace {

struct BlockDeleter {
    void operator()(LumoDibBlock* b) const { lumo::freeBlock(b); }
};
using BlockPtr = std::unique_ptr<LumoDibBlock, BlockDeleter>;

bool writeAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n < 32768 ? n : 32768);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

TAVIK_API LumoHBITMAP lumoCreateBitmap(int32_t width, int32_t height) { return lumo::newBitmap(width, height); }

TAVIK_API void lumoDeleteBitmap(LumoHBITMAP hBitmap) { lumo::deleteBitmap(hBitmap); }

TAVIK_API LumoHBITMAP lumoLoadBmp(const char* path, int32_t* size) {
    lumo::FileSource file(path);
    if (!file.ok()) return nullptr;
    BlockPtr dib(lumo::readPackedDib(file, true));
    if (!dib) return nullptr;
    LumoBitmapInfoHeader h;
    std::memcpy(&h, dib->data.get(), sizeof h);
    if (size) {
        size[0] = h.biWidth;
        size[1] = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    }
    return lumo::decodePackedDib(*dib);
}

TAVIK_API int32_t lumoSaveBmp(LumoHBITMAP hBitmap, const char* path) {
    if (!hBitmap || !path) return 0;
    BlockPtr dib(lumo::bitmapToDib24(*hBitmap));
    if (!dib) return 0;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    uint8_t header[14] = {'B', 'M'};
    const uint32_t fileSize = static_cast<uint32_t>(dib->size + 14);
    const uint32_t offBits = 54;
    std::memcpy(header + 2, &fileSize, 4);
    std::memcpy(header + 10, &offBits, 4);
    // A failed write is reported: a truncated file must not look saved.
    bool ok = writeAll(fd, header, sizeof header) && writeAll(fd, dib->data.get(), dib->size);
    if (::close(fd) != 0) ok = false;
    return ok ? 1 : 0;
}

TAVIK_API LumoBitmapInfoHeader* lumoGetDibProperties(const char* path, int32_t* estimate) {
    static LumoBitmapInfoHeader properties;  // the documented shared record
    lumo::FileSource file(path);
    if (!file.ok()) return nullptr;
    BlockPtr dib(lumo::readPackedDib(file, false));
    if (!dib) return nullptr;
    LumoBitmapInfoHeader h;
    std::memcpy(&h, dib->data.get(), sizeof h);
    if (estimate) {
        const int64_t absH = h.biHeight < 0 ? -int64_t{h.biHeight} : h.biHeight;
        const int64_t s = absH * lumo::rowStride(24, h.biWidth);
        const int64_t head = 40;
        const int64_t f = int64_t{h.biSizeImage} + head + int64_t(dib->size - lumo::kInfoHeaderSize);
        const int64_t e = f < s + head ? f + s + head : 2 * f;
        *estimate = e > INT32_MAX ? INT32_MAX : static_cast<int32_t>(e);
    }
    properties = h;
    return &properties;
}
