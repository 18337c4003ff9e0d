// Run-length encoder and decoder of the compressed dot-plane frame.
#include "rle.h"

#include <cstring>

#include "protocol_constants.h"

namespace tavik::proto {

namespace {

// Copies in[from, to) as literal chunks of at most 128 bytes; returns new out index.
size_t flushLiteral(std::span<const uint8_t> in, size_t from, size_t to, uint8_t* out, size_t o) {
    while (from < to) {
        const size_t chunk = (to - from) < kRleChunk ? (to - from) : kRleChunk;
        out[o++] = static_cast<uint8_t>(chunk - 1);
        std::memcpy(out + o, in.data() + from, chunk);
        o += chunk;
        from += chunk;
    }
    return o;
}

}  // namespace

size_t rleEncode(std::span<const uint8_t> in, std::span<uint8_t> out) {
    const size_t n = in.size();
    if (n == 0 || out.size() < rleMaxEncodedSize(n)) return 0;
    uint8_t* o = out.data();
    size_t w = 0;
    size_t literalStart = 0;
    size_t q = 0;
    while (q < n) {
        const uint8_t v = in[q];
        size_t run = 1;
        while (q + run < n && in[q + run] == v) ++run;
        if (run < kRleMinRun) {
            q += run;
            continue;
        }
        w = flushLiteral(in, literalStart, q, o, w);
        size_t left = run;
        while (left > 0) {
            const size_t chunk = left < kRleChunk ? left : kRleChunk;
            o[w++] = static_cast<uint8_t>((chunk - 1) | 0x80);
            o[w++] = v;
            left -= chunk;
        }
        q += run;
        literalStart = q;
    }
    return flushLiteral(in, literalStart, n, o, w);
}

bool rleDecode(std::span<const uint8_t> in, std::span<uint8_t> out, size_t& produced) {
    produced = 0;
    size_t i = 0;
    while (i < in.size()) {
        const uint8_t c = in[i++];
        const size_t count = static_cast<size_t>(c & 0x7F) + 1;
        if (count > out.size() - produced) return false;
        if (c < 0x80) {
            if (count > in.size() - i) return false;
            std::memcpy(out.data() + produced, in.data() + i, count);
            i += count;
        } else {
            if (i >= in.size()) return false;
            std::memset(out.data() + produced, in[i++], count);
        }
        produced += count;
    }
    return true;
}

}  // namespace tavik::proto
