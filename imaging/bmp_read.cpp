// The BMP reader: optional file header, 12-, 40-, 108- or 124-byte info header, bit-field masks,
// colour table (3- or 4-byte entries), then the pixel bytes from bfOffBits or behind the table.
#include "imaging/bmp_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumo {

size_t MemorySource::readAt(uint64_t offset, std::span<uint8_t> out) {
    if (offset >= bytes_.size()) return 0;
    const size_t n = std::min<uint64_t>(out.size(), bytes_.size() - offset);
    std::memcpy(out.data(), bytes_.data() + offset, n);
    return n;
}

FileSource::FileSource(const char* path) {
    if (!path) return;
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) return;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    size_ = static_cast<uint64_t>(st.st_size);
}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

size_t FileSource::readAt(uint64_t offset, std::span<uint8_t> out) {
    size_t done = 0;
    // Chunks of at most 32 KiB, as the file format's writers expect of a reader.
    while (done < out.size() && fd_ >= 0) {
        const size_t want = std::min<size_t>(out.size() - done, 32768);
        const ssize_t got = ::pread(fd_, out.data() + done, want, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace

LumoDibBlock* readPackedDib(ByteSource& src, bool withPixels, const ImageLimits& limits) {
    uint8_t fileHeader[14];
    uint64_t headerPos = 0;
    uint32_t offBits = 0;
    if (src.readAt(0, fileHeader) == sizeof fileHeader && le16(fileHeader) == 0x4D42) {
        offBits = le32(fileHeader + 10);
        headerPos = 14;
    }
    uint8_t raw[40] = {};
    const size_t got = src.readAt(headerPos, raw);
    if (got < 4) return nullptr;
    const uint32_t headerSize = le32(raw);
    LumoBitmapInfoHeader h{};
    if (headerSize == 12) {
        if (got < 12) return nullptr;
        h.biSize = 40;
        h.biWidth = le16(raw + 4);
        h.biHeight = le16(raw + 6);
        h.biPlanes = le16(raw + 8);
        h.biBitCount = le16(raw + 10);
        h.biClrUsed = colourCount(h);
        h.biClrImportant = h.biClrUsed;
    } else if (headerSize == 40 || headerSize == 108 || headerSize == 124) {
        // The 108- and 124-byte headers are the 40-byte one followed by the red, green, blue
        // (and alpha) masks and colour-space fields; the masks are used as a 40-byte header's.
        if (got < 40 || src.size() < headerPos + headerSize) return nullptr;
        std::memcpy(&h, raw, sizeof h);  // the record is the file's little-endian layout
        h.biSize = 40;
    } else {
        return nullptr;
    }
    const bool core = headerSize == 12;
    auto layout = describeDib(h, limits);
    if (!layout) return nullptr;
    // A file must back the image it claims (see ImageLimits).
    const int64_t claimed = int64_t{layout->width} * layout->height;
    if (claimed > limits.freePixels &&
        uint64_t(claimed) > uint64_t(limits.pixelsPerFileByte) * std::min<uint64_t>(src.size(), uint64_t{1} << 40))
        return nullptr;
    const bool compressed = layout->compression == kBiRle8 || layout->compression == kBiRle4;
    if (h.biSizeImage == 0 && !compressed) h.biSizeImage = static_cast<uint32_t>(std::min<size_t>(layout->pixelBytes, UINT32_MAX));
    if (h.biClrUsed == 0) h.biClrUsed = layout->colours;

    // Bit-field masks follow the first 40 header bytes (inside the longer headers); the colour
    // table follows the whole header and, for a 40-byte header, the masks.
    const uint64_t masksPos = headerPos + 40;
    const uint64_t coloursPos = headerPos + headerSize + (headerSize == 40 ? layout->maskBytes : 0);
    const size_t fileTableBytes = size_t{layout->colours} * (core ? 3 : 4);
    const uint64_t pixelPos = offBits != 0 ? uint64_t{offBits} : coloursPos + fileTableBytes;
    const uint64_t inFile = src.size() > pixelPos ? src.size() - pixelPos : 0;

    size_t pixelBytes = 0;
    if (withPixels) {
        if (compressed) {
            // Bound the compressed stream by what a valid encoding of this image can need.
            const size_t bound = size_t(layout->width) * size_t(layout->height) * 2 + size_t(layout->height) * 4 + 64;
            pixelBytes = std::min<uint64_t>(h.biSizeImage != 0 ? std::min<size_t>(h.biSizeImage, bound) : bound, inFile);
        } else {
            // Only the bytes the file holds; the decoder reads the missing rows as zero.
            pixelBytes = std::min<uint64_t>(layout->pixelBytes, inFile);
        }
    }
    const size_t headerAndTable = kInfoHeaderSize + layout->tableBytes;
    LumoDibBlock* block = allocBlock(headerAndTable + pixelBytes);
    if (!block) return nullptr;
    uint8_t* base = block->data.get();
    if (layout->maskBytes) src.readAt(masksPos, std::span(base + kInfoHeaderSize, layout->maskBytes));
    uint8_t* table = base + kInfoHeaderSize + layout->maskBytes;
    if (core) {
        // 3-byte entries widened in place, last entry first.
        src.readAt(coloursPos, std::span(table, size_t{layout->colours} * 3));
        for (size_t i = layout->colours; i-- > 0;) {
            const uint8_t b = table[i * 3], g = table[i * 3 + 1], r = table[i * 3 + 2];
            table[i * 4] = b;
            table[i * 4 + 1] = g;
            table[i * 4 + 2] = r;
            table[i * 4 + 3] = 0;
        }
    } else {
        src.readAt(coloursPos, std::span(table, size_t{layout->colours} * 4));
    }
    if (withPixels) {
        // A compressed stream's size is what was read: the claimed size would let a file whose
        // pixels lie past its end grow the block below to 4 GiB.
        const size_t read = pixelBytes ? src.readAt(pixelPos, std::span(base + headerAndTable, pixelBytes)) : 0;
        if (compressed) h.biSizeImage = static_cast<uint32_t>(read);
    }
    std::memcpy(base, &h, sizeof h);
    if (withPixels && (layout->compression == kBiRle8 || layout->compression == kBiRle4))
        resizeBlock(block, headerAndTable + h.biSizeImage);  // drop the unused tail; failure is harmless
    return block;
}

}  // namespace lumo
