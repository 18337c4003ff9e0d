// Dot-plane, multi-level and note-taker graphic packing and their inverses.
#include "planes.h"

#include <cstring>

namespace tavik::proto {

namespace {

bool dimsOk(int width, int height) { return width > 0 && height > 0; }

size_t dotCount(int width, int height) { return static_cast<size_t>(width) * static_cast<size_t>(height); }

// Shift of dot x inside its byte and the byte index, for F bits per dot.
struct MlPos {
    size_t byte;
    unsigned shift;
};
inline MlPos mlPos(int x, int format) {
    const int perByte = 8 / format;
    return {static_cast<size_t>(x / perByte), static_cast<unsigned>((x % perByte) * format)};
}

}  // namespace

// ---- Two-plane graphic ------------------------------------------------------------

size_t planeSize(int width, int height) {
    if (!dimsOk(width, height)) return 0;
    return dotCount(width, height) / 8;
}

size_t packPlane(std::span<const uint8_t> dots, int width, int height, int plane, std::span<uint8_t> out) {
    const size_t size = planeSize(width, height);
    if (size == 0 || (plane != 1 && plane != 2) || dots.size() < dotCount(width, height) || out.size() < size)
        return 0;
    std::memset(out.data(), 0, size);
    const size_t w = static_cast<size_t>(width);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = dots.data() + static_cast<size_t>(y) * w;
        const size_t base = static_cast<size_t>(y / 8) * w;
        if (base >= size) break;
        const size_t end = (size - base) < w ? (size - base) : w;
        const uint8_t bit = static_cast<uint8_t>(1u << (y % 8));
        uint8_t* dst = out.data() + base;
        if (plane == 1) {
            for (size_t x = 0; x < end; ++x)
                if (row[x] == 1) dst[x] |= bit;
        } else {
            for (size_t x = 0; x < end; ++x)
                if (row[x] >= 2) dst[x] |= bit;
        }
    }
    return size;
}

bool unpackPlane(std::span<const uint8_t> packed, int width, int height, std::span<uint8_t> mask) {
    if (!dimsOk(width, height) || mask.size() < dotCount(width, height)) return false;
    const size_t size = planeSize(width, height) < packed.size() ? planeSize(width, height) : packed.size();
    const size_t w = static_cast<size_t>(width);
    for (int y = 0; y < height; ++y) {
        const size_t base = static_cast<size_t>(y / 8) * w;
        const unsigned bit = 1u << (y % 8);
        uint8_t* row = mask.data() + static_cast<size_t>(y) * w;
        for (size_t x = 0; x < w; ++x) {
            const size_t i = base + x;
            row[x] = (i < size && (packed[i] & bit)) ? 1 : 0;
        }
    }
    return true;
}

// ---- Multi-level graphic ------------------------------------------------------------

bool isMultiLevelFormat(int format) { return format == 1 || format == 2 || format == 4 || format == 8; }

size_t multiLevelRowBytes(int width, int format) {
    if (!isMultiLevelFormat(format) || width <= 0) return 0;
    const size_t perByte = static_cast<size_t>(8 / format);
    return (static_cast<size_t>(width) + perByte - 1) / perByte;
}

size_t multiLevelPackedSize(int width, int height, int format) {
    if (height <= 0) return 0;
    return multiLevelRowBytes(width, format) * static_cast<size_t>(height);
}

size_t packMultiLevel(std::span<const uint8_t> dots, int width, int height, int format, std::span<uint8_t> out) {
    const size_t size = multiLevelPackedSize(width, height, format);
    if (size == 0 || dots.size() < dotCount(width, height) || out.size() < size) return 0;
    const size_t rowBytes = multiLevelRowBytes(width, format);
    const size_t w = static_cast<size_t>(width);
    if (format == 8) {
        std::memcpy(out.data(), dots.data(), size);
        return size;
    }
    std::memset(out.data(), 0, size);
    const unsigned valueMask = (1u << format) - 1;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = dots.data() + static_cast<size_t>(y) * w;
        uint8_t* dst = out.data() + static_cast<size_t>(y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            const MlPos p = mlPos(x, format);
            dst[p.byte] = static_cast<uint8_t>(dst[p.byte] | ((row[x] & valueMask) << p.shift));
        }
    }
    return size;
}

bool unpackMultiLevel(std::span<const uint8_t> packed, int width, int height, int format, std::span<uint8_t> dots) {
    const size_t size = multiLevelPackedSize(width, height, format);
    if (size == 0 || packed.size() < size || dots.size() < dotCount(width, height)) return false;
    const size_t rowBytes = multiLevelRowBytes(width, format);
    const size_t w = static_cast<size_t>(width);
    const unsigned valueMask = (1u << format) - 1;
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = packed.data() + static_cast<size_t>(y) * rowBytes;
        uint8_t* row = dots.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < width; ++x) {
            const MlPos p = mlPos(x, format);
            row[x] = static_cast<uint8_t>((src[p.byte] >> p.shift) & valueMask);
        }
    }
    return true;
}

std::array<uint8_t, kMultiLevelHeaderSize> multiLevelHeader(bool withData, int format, int width, int height) {
    return {withData ? kMultiLevelData : kMultiLevelClear,
            static_cast<uint8_t>(format),
            1,
            0,
            0,
            0,
            static_cast<uint8_t>(width & 0xFF),
            static_cast<uint8_t>(height & 0xFF)};
}

// ---- Note-taker braille graphic --------------------------------------------------------

bool isBrailleCellCount(int cellCount) { return cellCount > 0 && cellCount <= kNoteTakerMaxCells; }

namespace {

// Where dot (x, y) of a W-wide image lands: cell index (may be out of range) and bit;
// bit 0 when the dot is not used by the layout.
struct CellPos {
    long cell;
    uint8_t bit;
};
inline CellPos cellPos(int x, int y, int width, int cellCount) {
    if (width > 8) {  // landscape: rows 0..3
        if (y > 3) return {0, 0};
        return {x / 2, static_cast<uint8_t>((x % 2 == 0 ? 0x80 : 0x08) >> y)};
    }
    if (x > 3) return {0, 0};  // portrait: columns 0..3, turned
    return {static_cast<long>(cellCount) - kNoteTakerPortraitCells + y / 2,
            static_cast<uint8_t>((y % 2 == 0 ? 0x10 : 0x01) << x)};
}

}  // namespace

size_t packBrailleGraphic(std::span<const uint8_t> dots, int width, int height, int cellCount,
                          std::span<uint8_t> out) {
    if (!isBrailleCellCount(cellCount) || !dimsOk(width, height) || dots.size() < dotCount(width, height))
        return 0;
    const size_t cells = static_cast<size_t>(cellCount);
    if (out.size() < 2 * cells) return 0;
    std::memset(out.data(), 0, 2 * cells);
    const bool landscape = width > 8;
    const int rows = landscape ? (height < 4 ? height : 4) : height;
    const int cols = landscape ? width : (width < 4 ? width : 4);
    for (int y = 0; y < rows; ++y) {
        const uint8_t* row = dots.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int x = 0; x < cols; ++x) {
            const uint8_t v = row[x];
            if (v == 0) continue;
            const CellPos p = cellPos(x, y, width, cellCount);
            if (p.bit == 0 || p.cell < 0 || p.cell >= cellCount) continue;  // clipped
            const size_t index = static_cast<size_t>(p.cell) + (v == 1 ? 0 : cells);
            out[index] = static_cast<uint8_t>(out[index] | p.bit);
        }
    }
    return 2 * cells;
}

bool unpackBrailleGraphic(std::span<const uint8_t> payload, int width, int height, int cellCount,
                          std::span<uint8_t> dots) {
    if (!isBrailleCellCount(cellCount) || !dimsOk(width, height) || dots.size() < dotCount(width, height))
        return false;
    const size_t cells = static_cast<size_t>(cellCount);
    if (payload.size() < 2 * cells) return false;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = dots.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int x = 0; x < width; ++x) {
            const CellPos p = cellPos(x, y, width, cellCount);
            uint8_t v = 0;
            if (p.bit != 0 && p.cell >= 0 && p.cell < cellCount) {
                const size_t c = static_cast<size_t>(p.cell);
                if (payload[cells + c] & p.bit)
                    v = 2;
                else if (payload[c] & p.bit)
                    v = 1;
            }
            row[x] = v;
        }
    }
    return true;
}

}  // namespace tavik::proto
