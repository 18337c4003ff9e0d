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
    tavik::bench::PtyDevice device{[](const padsim::HostFrame& f) { return f.command == 0x93 && f.parameter != 0; }};
    std::optional<tavik::bench::PortConfig> config;
    bool ok = false;
    Stack() {
        const char* bin = std::getenv("TAVIK_BIN_DIR");
        if (!bin) return;
        std::string error;
        if (!device.start(error)) return;
        const int port = 10 + ::getpid() % 50;
        config.emplace("tavik-client-bench", port, device.path());
        if (!config->ok()) return;
        ::setenv("XDG_CONFIG_HOME", config->dir().c_str(), 1);
        ::setenv("TAVIK_PATH", (std::string(bin) + "/TAVIK").c_str(), 1);
        if (!gdStart("QX-64X48", port, nullptr) || !gdStartDisplayMode(3, onKey, nullptr, nullptr)) return;
        for (int i = 0; i < 500 && !gdQueryEquipment(-1, nullptr, nullptr, nullptr, nullptr); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ok = gdQueryEquipment(-1, nullptr, nullptr, nullptr, nullptr) == 1;
    }
    ~Stack() { gdEnd(); }
};

Stack& stack() {
    static Stack s;
    return s;
}

void BM_GraphicToWire(benchmark::State& state) {
    Stack& s = stack();
    if (!s.ok) {
        state.SkipWithError("controller, plug-in or device not available");
        return;
    }
    // Argument: idle time before each write.
    std::vector<unsigned char> p1(64 * 6), p2(64 * 6);
    tavik::bench::timeWritesToWire(
        state, s.device,
        [&](int n) {
            std::fill(p1.begin(), p1.end(), static_cast<unsigned char>(n));
            std::fill(p2.begin(), p2.end(), static_cast<unsigned char>(~(n + 1)));
        },
        [&] { gdDisplayGraphicData(p1.data(), p2.data(), 5); }, "plane frame");
}
BENCHMARK(BM_GraphicToWire)->Arg(0)->Arg(250)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);

void BM_KeyToCallback(benchmark::State& state) {
    Stack& s = stack();
    if (!s.ok) {
        state.SkipWithError("controller, plug-in or device not available");
        return;
    }
    std::vector<double> ms;
    for (auto _ : state) {
        uint64_t before;
        {
            std::lock_guard lock(keyMutex);
            before = keys;
        }
        const auto t0 = Clock::now();
        s.device.sendKey(4, 1);
        std::unique_lock lock(keyMutex);
        if (!keyCv.wait_for(lock, std::chrono::seconds(10), [&] { return keys > before; })) {
            state.SkipWithError("no key callback within 10 s");
            return;
        }
        const double d = millisBetween(t0, lastKey);
        state.SetIterationTime(d / 1000.0);
        ms.push_back(d);
    }
    tavik::bench::reportLatency(state, ms);
}
BENCHMARK(BM_KeyToCallback)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
