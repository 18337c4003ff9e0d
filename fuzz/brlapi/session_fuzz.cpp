// Feeds arbitrary bytes to a braille client connection: the framing, then the
// session state machine for every packet that comes out, the way the server
// does. Byte 0 picks the authorisation (none or key) and whether the version
// handshake is done first, so the requests after it are reached quickly.
// Checks that every answer is one whole packet within the size limit.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "brlapi/protocol.h"
#include "brlapi/session.h"

using namespace tavik::brl;

namespace {

void checkAnswer(const std::vector<uint8_t>& bytes) {
    std::vector<Packet> got;
    PacketReader r;
    if (r.feed(bytes, got) != PacketReader::Result::Ok || got.size() != 1 || r.midPacket()) std::abort();
}

DisplayFacts facts() {
    DisplayFacts f;
    f.columns = 32;
    f.rows = 1;
    f.driverName = "Tavik";
    f.model = "QX-64X48";
    f.table = "en-us-comp8-ext.utb";
    f.renderedCells.assign(32, 0x3F);
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::vector<uint8_t> key = {'k', 'e', 'y'};
    Session s(AuthPolicy{(data[0] & 1) != 0, key});
    const DisplayFacts f = facts();
    if (data[0] & 2) {
        std::vector<uint8_t> v;
        putU32(v, kProtocolVersion);
        s.handle({pkt::kVersion, v}, f);
    }
    // Byte 1 cuts the stream in chunks of 1..256 bytes, as reads would.
    const std::size_t chunk = size > 1 ? std::size_t{data[1]} + 1 : 1;
    PacketReader reader;
    std::span<const uint8_t> rest(data + 1, size - 1);
    while (!rest.empty()) {
        const std::size_t n = std::min(chunk, rest.size());
        std::vector<Packet> packets;
        const bool oversized = reader.feed(rest.first(n), packets) == PacketReader::Result::Oversized;
        rest = rest.subspan(n);
        for (const Packet& p : packets) {
            if (p.body.size() > kMaxPacketSize) std::abort();
            Outcome o = s.handle(p, f);
            for (const auto& out : o.send) checkAnswer(out);
            for (uint64_t code : {key::command(key::kWindowLeft), key::command(key::kCommandRoute | 3)}) {
                auto k = s.keyPacket(code);
                if (!k.empty()) checkAnswer(k);
            }
            if (s.text().size() > 32 || s.andMask().size() != s.text().size()) std::abort();
            if (o.close) return 0;
        }
        if (oversized) return 0;
    }
    return 0;
}
