// Screen capture of 1920 x 1080 through the desktop layer (MIT-SHM) against a plain copy of the
// same number of bytes, in the same run, on an Xvfb the benchmark starts itself. Without Xvfb
// the capture benchmark is skipped with a message.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/desktop/desktop.h"
#include "tests/support/xvfb.h"

namespace dt = tavik::desktop;

namespace {

constexpr int kW = 1920, kH = 1080;

void BM_PlainCopy(benchmark::State& state) {
    std::vector<uint32_t> from(size_t(kW) * kH, 0x123456), to(size_t(kW) * kH);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), to.size() * sizeof(uint32_t));
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}

void BM_CaptureShm(benchmark::State& state) {
    dt::Desktop desk;
    std::vector<uint32_t> px(size_t(kW) * kH);
    for (auto _ : state) {
        const dt::DesktopStatus s = desk.capture({0, 0, kW, kH}, px, kW);
        if (s != dt::DesktopStatus::Ok) {
            state.SkipWithError(s == dt::DesktopStatus::NoDisplay ? "capture: no display" : "capture failed");
            break;
        }
        benchmark::DoNotOptimize(px.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("PlainCopy/1920x1080", BM_PlainCopy)->UseRealTime();
    std::unique_ptr<tavik::test::Xvfb> xvfb;
    if (dt::desktopBuiltWithX11()) xvfb = std::make_unique<tavik::test::Xvfb>("1920x1080x24");
    if (xvfb && !xvfb->display().empty()) {
        setenv("DISPLAY", xvfb->display().c_str(), 1);
        benchmark::RegisterBenchmark("CaptureShm/1920x1080", BM_CaptureShm)->UseRealTime();
    } else {
        std::fprintf(stderr, "capture benchmark skipped: no Xvfb (or a build without X11)\n");
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
