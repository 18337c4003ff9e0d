// The device's 32-byte identification reply: building it (virtual display) and
// reading it (plug-ins). Pure, no allocation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "protocol_constants.h"

namespace tavik::proto {

using IdentReply = std::array<uint8_t, kIdentReplySize>;

struct IdentInfo {
    std::array<uint8_t, kDeviceInfoSize> deviceInfo{};  // bytes 0..7
    bool multiLevel = false;                            // byte 2 >= 2
    // Byte 5 when it is a valid note-taker cell count (16..46), else 0.
    int noteTakerCells = 0;
    // Bytes 8..31 up to the first NUL; a name filling all 24 bytes without a NUL is
    // taken whole (never read past the reply).
    std::array<char, kIdentNameSize + 1> name{};
    std::string_view nameView() const { return std::string_view(name.data()); }
};

// Reads a reply of exactly kIdentReplySize bytes (a shorter span gives an empty info).
IdentInfo parseIdentReply(std::span<const uint8_t> reply);

// Builds a reply: `deviceInfo` in bytes 0..7 and `name` (cut to 23 bytes so a NUL
// always ends it) in bytes 8..31, zero-padded.
IdentReply buildIdentReply(std::span<const uint8_t, kDeviceInfoSize> deviceInfo, std::string_view name);

}  // namespace tavik::proto
