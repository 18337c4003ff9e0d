// Hot paths of the wire protocol: turning a 64 x 48 slot graphic into a
// compressed plane (pack + run-length code), and parsing a device key frame.
#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <random>
#include <vector>

#include "frame.h"
#include "frame_parser.h"
#include "planes.h"
#include "rle.h"

using namespace tavik::proto;

namespace {

std::vector<uint8_t> slotImage(bool busy) {
    std::vector<uint8_t> img(64 * 48, 0);
    std::mt19937 rng(1);
    if (busy) {
        for (auto& d : img) d = static_cast<uint8_t>(rng() % 3);
    } else {  // a few shapes: mostly runs
        for (int y = 10; y < 30; ++y)
            for (int x = 5; x < 40; ++x) img[y * 64 + x] = (x + y) % 7 == 0 ? 2 : 1;
    }
    return img;
}

void encodePlane(benchmark::State& state) {
    const auto img = slotImage(state.range(0) != 0);
    std::array<uint8_t, kMaxPlaneBytes> packed{};
    std::array<uint8_t, rleMaxEncodedSize(kMaxPlaneBytes)> coded{};
    for (auto _ : state) {
        const size_t n = packPlane(img, 64, 48, 1, packed);
        const size_t c = rleEncode(std::span(packed).first(n), coded);
        benchmark::DoNotOptimize(c);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 384);
}
BENCHMARK(encodePlane)->Arg(0)->Arg(1)->ArgNames({"noisy"});

struct CountingSink : ParserSink {
    uint64_t frames = 0;
    void onFrame(const ParsedFrame& f) override { frames += f.payload.size(); }
    void onStray(std::span<const uint8_t>) override {}
};

void parseKeyFrame(benchmark::State& state) {
    CountingSink sink;
    auto parser = std::make_unique<FrameParser>(sink);
    const auto h = frameHeader(0xE1, 0, 4);
    std::array<uint8_t, 10> bytes{};
    std::copy(h.begin(), h.end(), bytes.begin());
    bytes[6] = 0x01;
    bytes[7] = 0x20;
    uint64_t now = 0;
    for (auto _ : state) {
        for (uint8_t b : bytes) benchmark::DoNotOptimize(parser->step(b, now));
        ++now;
    }
    benchmark::DoNotOptimize(sink.frames);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(parseKeyFrame);

}  // namespace

BENCHMARK_MAIN();
