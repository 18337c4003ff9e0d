// Feeds arbitrary device bytes to the receive parser. Every tenth input byte
// (by value) may also be an idle poll with a time jump, so the idle reset is
// exercised. Checks the parser's promises on every dispatched frame.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "event_bytes.h"
#include "frame_parser.h"

using namespace tavik::proto;

namespace {

struct CheckingSink : ParserSink {
    void onFrame(const ParsedFrame& f) override {
        if (f.payload.size() > kParserStoreCap) std::abort();
        if (f.payload.size() > f.receivedLength) std::abort();
        if (f.receivedLength > f.announcedLength) std::abort();
        if (f.payload.data()[f.payload.size()] != 0) std::abort();
        volatile uint32_t param = eventParam(f.payload);
        (void)param;
        (void)reactionFor(f.command);
    }
    void onStray(std::span<const uint8_t> bytes) override {
        if (bytes.empty() || bytes.size() > 2) std::abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckingSink sink;
    auto parser = std::make_unique<FrameParser>(sink);
    uint64_t now = 0;
    // The first byte selects how often idle polls are mixed in (0 = never).
    const uint8_t idleEvery = size > 0 ? data[0] : 0;
    for (size_t i = 1; i < size; ++i) {
        if (idleEvery != 0 && i % idleEvery == 0) {
            now += (data[i] & 1) ? 1000 : 10;
            parser->step(std::nullopt, now);
        }
        parser->step(data[i], now);
    }
    return 0;
}
