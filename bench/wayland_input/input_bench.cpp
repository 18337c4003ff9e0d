// Ring drawing for the layer-shell frame at window and screen sizes, and absolute pointer
// placement over a two-output layout.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/desktop/wayland/pointer_motion.h"
#include "platform/desktop/wayland/ring_image.h"

using namespace tavik::desktop;
using namespace tavik::desktop::wayland;

static void RingDraw(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0)), h = static_cast<int32_t>(state.range(1));
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    for (auto _ : state) {
        benchmark::DoNotOptimize(drawRing(px, w, h, 3));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}
BENCHMARK(RingDraw)->Args({640, 480})->Args({1920, 1080})->Args({3840, 2160});

static void PointerPlacement(benchmark::State& state) {
    const Rect layout{-1920, 0, 4480, 1440};
    int32_t x = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(absoluteMotion({x, 700}, layout));
        x = (x + 37) % 5000;
    }
}
BENCHMARK(PointerPlacement);

BENCHMARK_MAIN();
