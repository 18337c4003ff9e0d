// Device event payloads as notify arguments: payload bytes 0..3 packed into the
// low 32 bits of lParam, byte 0 lowest. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tavik::proto {

// Packs payload bytes 0..3 (byte 0 in bits 0..7). A payload shorter than four
// bytes reads as if padded with 0x00, so a short key or broadcast frame never
// exposes whatever the receive buffer held before.
constexpr uint32_t eventParam(std::span<const uint8_t> payload) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && i < payload.size(); ++i) v |= static_cast<uint32_t>(payload[i]) << (8 * i);
    return v;
}

// Byte i (0..3) of a packed event argument.
constexpr uint8_t eventByte(uint32_t param, int i) { return static_cast<uint8_t>(param >> (8 * (i & 3))); }

}  // namespace tavik::proto
