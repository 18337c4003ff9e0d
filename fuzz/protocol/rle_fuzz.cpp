// Run-length coding under arbitrary input: the decoder must stay inside its
// output on any bytes, and encode-then-decode must give the input back within
// the size bound.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "rle.h"

using namespace tavik::proto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> in(data, size);

    // Decode the raw bytes into an exactly sized buffer (no slack for overruns).
    const size_t cap = size > 0 ? data[0] * 4u : 0u;
    std::vector<uint8_t> out(cap);
    size_t produced = 0;
    rleDecode(in, out, produced);
    if (produced > cap) std::abort();

    // Round trip.
    std::vector<uint8_t> enc(rleMaxEncodedSize(size));
    const size_t n = rleEncode(in, enc);
    if (n > enc.size() || (size > 0 && n == 0)) std::abort();
    std::vector<uint8_t> back(size);
    if (!rleDecode(std::span(enc).first(n), back, produced) || produced != size) std::abort();
    if (size > 0 && std::memcmp(back.data(), data, size) != 0) std::abort();
    return 0;
}
