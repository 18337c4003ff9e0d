// Latency of the serial plug-in on a pseudo-terminal: from a key frame's last
// byte on the wire to the notify message in the client's queue, and from a
// slot write to the last byte of its frames on the wire. Each benchmark takes
// many samples and reports their median and 99th percentile (microseconds).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <unistd.h>

#include "bench/drivers/latency_runs.h"
#include "tests/drivers/plugin_harness.h"

using namespace tavik;
using namespace tavik::test;

namespace {

struct Setup {
    TempSettings settings;
    int port = 10 + ::getpid() % 10;
    std::optional<PortMap> map;
    std::unique_ptr<FakeDevice> device;
    std::unique_ptr<PluginLib> lib;
    Setup() {
        const std::string link = settings.folder() + "/tty";
        settings.mapPort(port, link);
        map = PortMap::open(port);
        fillDeviceFields(map->map());
        device = std::make_unique<FakeDevice>(padsim::DeviceConfig{}, link);
        lib = std::make_unique<PluginLib>("Padrik");
        lib->drvInit(port);
        lib->drvStart();
        waitUntil([&] { return map->map().deviceIdentified == 1; });
    }
    ~Setup() {
        lib.reset();
        device.reset();
    }
};

void BM_KeyToNotify(benchmark::State& state) {
    Setup s;
    std::vector<double> us;
    for (auto _ : state) us = keyToNotifyRun(s.map->map(), *s.device, 200);
    reportLatency(state, us);
}
BENCHMARK(BM_KeyToNotify)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SlotWriteToWire(benchmark::State& state) {
    Setup s;
    std::vector<double> us;
    for (auto _ : state) us = slotWriteToWireRun(s.map->map(), *s.device, 60);
    reportLatency(state, us);
}
BENCHMARK(BM_SlotWriteToWire)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
