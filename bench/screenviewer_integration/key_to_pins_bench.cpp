// A pan key to the pins handed to the device on a 48 x 32 display: the key
// decoded, the view moved, one refresh pass (capture, pre-scan, panel,
// compare) and the changed plane given to the device sink; reported with the
// wire time of that plane at the display's 38400 baud, on a private Xvfb.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/screenviewer_integration/bench_screen.h"
#include "screenviewer/key_handling.h"
#include "screenviewer/sections.h"

namespace {

// The plane of a 48 x 32 display: one bit per pin; a frame adds a few bytes of header and check.
constexpr double kPlaneBytes = 48.0 * 32 / 8;
constexpr double kFrameOverhead = 8;
constexpr double kBaud = 38400;

void BM_PanKeyToPins(benchmark::State& state) {
    static lumo_bench::Screen screen;
    if (!screen.dpy) {
        state.SkipWithError("no Xvfb");
        return;
    }
    auto share = std::make_unique<lumo::ViewerShare>();
    lumo::initialiseShare(*share);
    uint64_t planes = 0;
    lumo::DeviceSink sink{[&planes](const uint8_t* p1, const uint8_t*, int) {
                              planes += p1 != nullptr;
                              return 1;
                          },
                          [](const uint8_t*) { return 1; }};
    lumo::Viewer viewer(*share, nullptr, lumo::configForCode(1, "Pinora PX-2"), lumo::makeDesktopPort(),
                        lumo::makeDesktopPort(), sink);
    viewer.createThreads({});  // never resumed: the passes run here
    viewer.setFrameEnabled(false);
    viewer.fullScreen();
    lumo::KeyHandler keys(viewer, lumo::InputPorts{}, false);
    bool right = true;
    for (auto _ : state) {
        keys.onKey(4, right ? 0x04 : 0x08, 0);  // Right / Left: the long step
        right = !right;
        viewer.takeHandOver();
        viewer.refreshView(false);
    }
    state.counters["planes_per_key"] = double(planes) / double(state.iterations());
    state.counters["wire_ms_per_plane"] = (kPlaneBytes + kFrameOverhead) * 10 / kBaud * 1000;
}
BENCHMARK(BM_PanKeyToPins)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
