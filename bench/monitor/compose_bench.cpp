// The monitor picture composed for a full 64 x 48 slot at each cell size (the
// communication thread does this before every send), and one joystick poll.
#include <benchmark/benchmark.h>

#include <vector>

#include "controller/joystick/joystick_poll.h"
#include "drivers/core/monitor_picture.h"

namespace {

void BM_ComposeMonitorPicture(benchmark::State& state) {
    tavik::drv::MonitorPicture picture;
    picture.rebuild(static_cast<int>(state.range(0)), 64, 48);
    std::vector<uint8_t> dots(64 * 48);
    for (std::size_t i = 0; i < dots.size(); ++i) dots[i] = (i * 7 % 3) ? 1 : 0;
    for (auto _ : state) {
        picture.compose(dots);
        benchmark::DoNotOptimize(picture.pixels().data());
    }
}
BENCHMARK(BM_ComposeMonitorPicture)->Arg(5)->Arg(10)->Arg(15);

void BM_JoystickPoll(benchmark::State& state) {
    tavik::controller::JoystickPoller poller;
    uint64_t now = 0;
    uint32_t tick = 0;
    for (auto _ : state) {
        const uint32_t buttons = (tick++ & 4) ? 0x3 : 0;
        benchmark::DoNotOptimize(poller.poll({0x7FFF, 0x7FFF, buttons}, now += 20));
    }
}
BENCHMARK(BM_JoystickPoll);

}  // namespace
BENCHMARK_MAIN();
