// The Wayland capture's hot path: each stream frame (1920 x 1080 BGRx) converted into the held
// frame while finding what changed, for a still screen, a screen with one small change, and a
// frame read only where the producer's damage says; the memcpy of the same bytes as the floor.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/desktop/wayland/frame_store.h"

namespace {

using tavik::desktop::Rect;
using namespace tavik::desktop::wayland;

constexpr int kW = 1920, kH = 1080;

std::vector<uint8_t> frame(uint8_t seed) {
    std::vector<uint8_t> f(size_t(kW) * kH * 4);
    for (size_t i = 0; i < f.size(); ++i) f[i] = uint8_t(i * 7 + seed);
    return f;
}

void BM_StillFrame(benchmark::State& state) {
    const auto src = frame(1);
    FrameStore store;
    std::vector<Rect> changed;
    store.put(src, kW * 4, kW, kH, PixelOrder::BGRx, changed);
    for (auto _ : state) {
        changed.clear();
        benchmark::DoNotOptimize(store.put(src, kW * 4, kW, kH, PixelOrder::BGRx, changed));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}

void BM_OneSmallChange(benchmark::State& state) {
    auto a = frame(1), b = a;
    for (int y = 500; y < 520; ++y) std::memset(&b[(size_t(y) * kW + 900) * 4], 0, 40 * 4);
    FrameStore store;
    std::vector<Rect> changed;
    bool flip = false;
    for (auto _ : state) {
        changed.clear();
        flip = !flip;
        benchmark::DoNotOptimize(store.put(flip ? b : a, kW * 4, kW, kH, PixelOrder::BGRx, changed));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(a.size()));
}

void BM_ProducerDamage(benchmark::State& state) {
    const auto src = frame(3);
    FrameStore store;
    std::vector<Rect> changed;
    store.put(src, kW * 4, kW, kH, PixelOrder::BGRx, changed);
    const std::vector<Rect> regions{{900, 500, 40, 20}};
    for (auto _ : state) {
        changed.clear();
        benchmark::DoNotOptimize(store.putRegions(src, kW * 4, kW, kH, PixelOrder::BGRx, regions, changed));
    }
}

void BM_MemcpyFloor(benchmark::State& state) {
    const auto src = frame(1);
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}

BENCHMARK(BM_StillFrame);
BENCHMARK(BM_OneSmallChange);
BENCHMARK(BM_ProducerDamage);
BENCHMARK(BM_MemcpyFloor);

}  // namespace

BENCHMARK_MAIN();
