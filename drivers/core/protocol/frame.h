// Frame header of the wire protocol (both directions): FF FF command parameter
// followed by the payload length, low byte first. Pure, no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol_constants.h"

namespace tavik::proto {

// The six header bytes of a frame announcing `length` payload bytes.
constexpr std::array<uint8_t, kFrameHeaderSize> frameHeader(uint8_t command, uint8_t parameter, uint16_t length) {
    return {kFrameMarker, kFrameMarker, command, parameter, static_cast<uint8_t>(length & 0xFF),
            static_cast<uint8_t>(length >> 8)};
}

// Writes header and payload into `out` as one frame. Returns the number of bytes
// written, or 0 when the payload is longer than a frame can announce or `out` is
// too small (nothing is written then).
inline size_t encodeFrame(uint8_t command, uint8_t parameter, std::span<const uint8_t> payload,
                          std::span<uint8_t> out) {
    if (payload.size() > kMaxFramePayload || out.size() < kFrameHeaderSize + payload.size()) return 0;
    const auto header = frameHeader(command, parameter, static_cast<uint16_t>(payload.size()));
    size_t n = 0;
    for (uint8_t b : header) out[n++] = b;
    for (uint8_t b : payload) out[n++] = b;
    return n;
}

}  // namespace tavik::proto
