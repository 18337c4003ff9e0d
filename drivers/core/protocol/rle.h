// Run-length scheme of the compressed dot-plane frame: control byte c < 0x80
// copies the next c + 1 bytes, c >= 0x80 repeats the next byte (c & 0x7F) + 1
// times. Runs shorter than 4 stay literal. Pure, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tavik::proto {

// Upper bound of the encoded size for n input bytes: n + ceil(n / 128).
constexpr size_t rleMaxEncodedSize(size_t n) { return n + (n + 127) / 128; }

// Encodes `in` into `out` and returns the number of bytes written. `out` must hold
// rleMaxEncodedSize(in.size()) bytes; if it is smaller nothing is written and 0
// is returned (0 is also the result for empty input).
size_t rleEncode(std::span<const uint8_t> in, std::span<uint8_t> out);

// Decodes `in` into `out`. Safe on any input: returns false when a chunk would
// write past the end of `out` (overrun) or the input ends inside a chunk
// (truncation). `produced` always holds the bytes written so far; on overrun the
// chunk that did not fit is not written at all.
bool rleDecode(std::span<const uint8_t> in, std::span<uint8_t> out, size_t& produced);

}  // namespace tavik::proto
