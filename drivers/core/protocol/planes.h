// Packing of one-byte-per-dot images into the device's dot layouts: the two
// banded dot planes, the multi-level rows of the 0xA2 frame and the note-taker's
// braille-cell graphic, each with its inverse (used by the virtual display).
// Pure functions, no allocation; every size and index is checked first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol_constants.h"

namespace tavik::proto {

// ---- Two-plane graphic -----------------------------------------------------------
// Plane 1 holds the dots whose byte is exactly 1, plane 2 those whose byte is 2
// or more. A plane is W x H / 8 bytes (integer division): byte b x W + x holds
// column x of rows 8b..8b+7, bit k = row 8b + k. Bytes past W x H / 8 of a last,
// partial band are not part of the plane.

// Frame parameter of the second plane: the slot's plane level, 10 when it is 0.
// Levels outside 1..255 are clamped into it: the parameter is one byte, and a
// parameter of 0 would make the device take the second plane for the first.
constexpr uint8_t secondPlaneParameter(int planeLevel) {
    if (planeLevel == 0) return kDefaultPlaneLevel;
    return static_cast<uint8_t>(planeLevel < 1 ? 1 : (planeLevel > 255 ? 255 : planeLevel));
}

// Packed size of a plane; 0 for non-positive sizes.
size_t planeSize(int width, int height);

// Packs plane 1 or 2 of `dots` (W x H bytes, row-major) into `out` and returns
// planeSize(). Returns 0 and writes nothing when the sizes are not positive, the
// plane is not 1 or 2, `dots` is shorter than W x H or `out` shorter than the
// plane. The 512-byte rule is the caller's.
size_t packPlane(std::span<const uint8_t> dots, int width, int height, int plane, std::span<uint8_t> out);

// Inverse: sets every dot of `mask` (W x H bytes) to 1 where the packed plane has
// its bit set, else 0. Dots not covered by the plane's bytes read as 0. A packed
// buffer shorter than planeSize() is read as far as it goes. False on bad sizes.
bool unpackPlane(std::span<const uint8_t> packed, int width, int height, std::span<uint8_t> mask);

// ---- Multi-level graphic (frame 0xA2) ----------------------------------------------
// Format F in {1, 2, 4, 8} bits per dot; rows one after another, each padded to
// whole bytes; dot x of a row sits at bit position F x (x mod (8 / F)) of byte
// x / (8 / F), value = the low F bits of the dot byte.

bool isMultiLevelFormat(int format);

// Bytes per packed row; 0 for a bad format or width.
size_t multiLevelRowBytes(int width, int format);

// Size of the packed rows (header not included); 0 for a bad format or size.
size_t multiLevelPackedSize(int width, int height, int format);

// Packs `dots` (W x H) into `out`; returns multiLevelPackedSize() or 0 when an
// argument is bad or a buffer too small. The 9999-byte rule is the caller's.
size_t packMultiLevel(std::span<const uint8_t> dots, int width, int height, int format, std::span<uint8_t> out);

// Inverse: writes every dot value (0..2^F - 1) into `dots` (W x H). False when an
// argument is bad or `packed` is shorter than multiLevelPackedSize().
bool unpackMultiLevel(std::span<const uint8_t> packed, int width, int height, int format, std::span<uint8_t> dots);

// The 8-byte header in front of the rows: 0x23 (data) or 0x02 (clear), F, 1,
// 0, 0, 0, W, H. W and H are single bytes on the wire (taken modulo 256).
std::array<uint8_t, kMultiLevelHeaderSize> multiLevelHeader(bool withData, int format, int width, int height);

// ---- Note-taker braille graphic (frame 0x32) ---------------------------------------
// Payload: cellCount bytes of plane 1, then cellCount bytes of plane 2. A cell is
// 2 x 4 dots: bits 7..4 the left column top to bottom, bits 3..0 the right one.
// Landscape (W > 8): rows 0..3; dot (x, r) -> cell x / 2, even x bit 0x80 >> r,
// odd x bit 0x08 >> r. Portrait (W <= 8): columns 0..3; dot (c, y) -> cell
// cellCount - 16 + y / 2, even y bit 0x10 << c, odd y bit 0x01 << c. Dots that
// fall outside the plane's cells are dropped (clipped), never written elsewhere.

bool isBrailleCellCount(int cellCount);  // 1..128

// Packs into `out` (at least 2 x cellCount bytes, zeroed here first) and returns
// 2 x cellCount; 0 and nothing written on a bad argument.
size_t packBrailleGraphic(std::span<const uint8_t> dots, int width, int height, int cellCount,
                          std::span<uint8_t> out);

// Inverse for a W x H image: writes 0, 1 (plane 1) or 2 (plane 2; wins over plane
// 1) into every dot of `dots`; dots with no place in the cells read as 0.
bool unpackBrailleGraphic(std::span<const uint8_t> payload, int width, int height, int cellCount,
                          std::span<uint8_t> dots);

}  // namespace tavik::proto
