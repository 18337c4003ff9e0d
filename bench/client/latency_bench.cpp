// Latency of the whole display road, measured from the application's side:
// gdDisplayGraphicData until the last byte of the second plane frame has
// arrived on the device's end of the line, and a device key frame written on
// the line until the application's key callback runs. The real controller and
// serial plug-in run in between; the device end is played in-process on a
// pseudo-terminal with padsim's device model. Reports median and 99th
// percentile per benchmark as counters (milliseconds).
#include "bench/support/line_latency.h"
#include "client/tavikutil.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using tavik::bench::Clock;
using tavik::bench::millisBetween;

std::mutex keyMutex;
std::condition_variable keyCv;
uint64_t keys = 0;
Clock::time_point lastKey;

void onKey(int, int, int) {
    std::lock_guard lock(keyMutex);
    ++keys;
    lastKey = Clock::now();
    keyCv.notify_all();
}

// One entry for the whole run, on a line whose device end times each
// completed plane-2 frame.
struct Stack {
    tavik::bench::BenchLine line{[](const padsim::HostFrame& f) { return f.command == 0x93 && f.parameter != 0; }};
    bool ok = false;
    Stack() {
        if (!line.open("tavik-client-bench")) return;
        ::setenv("XDG_CONFIG_HOME", line.dir().c_str(), 1);
        ::setenv("TAVIK_PATH", (line.bin + "/TAVIK").c_str(), 1);
        if (!gdStart("QX-64X48", line.port, nullptr) || !gdStartDisplayMode(3, onKey, nullptr, nullptr)) return;
        for (int i = 0; i < 500 && !gdQueryEquipment(-1, nullptr, nullptr, nullptr, nullptr); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ok = gdQueryEquipment(-1, nullptr, nullptr, nullptr, nullptr) == 1;
    }
    ~Stack() { gdEnd(); }
};

void BM_GraphicToWire(benchmark::State& state) {
    Stack* rig = tavik::bench::sharedRig<Stack>(state, "controller, plug-in or device not available");
    if (!rig) return;
    Stack& s = *rig;
    // Argument: idle time before each write.
    std::vector<unsigned char> p1(64 * 6), p2(64 * 6);
    tavik::bench::timeWritesToWire(
        state, s.line.device,
        [&](int n) {
            std::fill(p1.begin(), p1.end(), static_cast<unsigned char>(n));
            std::fill(p2.begin(), p2.end(), static_cast<unsigned char>(~(n + 1)));
        },
        [&] { gdDisplayGraphicData(p1.data(), p2.data(), 5); }, "plane frame on the device");
}
BENCHMARK(BM_GraphicToWire)->Arg(0)->Arg(250)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);

void BM_KeyToCallback(benchmark::State& state) {
    Stack* rig = tavik::bench::sharedRig<Stack>(state, "controller, plug-in or device not available");
    if (!rig) return;
    Stack& s = *rig;
    uint64_t before = 0;
    tavik::bench::timeRounds(
        state, std::chrono::milliseconds(0),
        [&](int) {
            std::lock_guard lock(keyMutex);
            before = keys;
        },
        [&] { s.line.device.sendKey(4, 1); },
        [&]() -> tavik::bench::Arrival {
            std::unique_lock lock(keyMutex);
            if (!keyCv.wait_for(lock, std::chrono::seconds(10), [&] { return keys > before; })) return std::nullopt;
            return lastKey;
        },
        "key callback");
}
BENCHMARK(BM_KeyToCallback)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
