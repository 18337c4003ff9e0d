// Latency of the USB plug-in over the FTDI double: from a key frame on the
// wire to the notify message in the client's queue (the transport polls the
// link's input count 1 ms apart), and from a slot write to both raw planes on
// the wire (each plane is followed by draining the output). Median and 99th
// percentile in microseconds.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "platform/atomic_word.h"
#include "bench/drivers/latency_runs.h"
#include "tests/drivers/plugin_harness.h"

using namespace tavik;
using namespace tavik::test;

namespace {

TempSettings& settings() {
    static TempSettings s;
    return s;
}

// One USB connection on an entry of the connection info map, given back at
// the end.
struct Setup {
    int entry = 1 + ::getpid() % 15;
    std::optional<ConnectionInfo> info = ConnectionInfo::open();
    ConnectionInfoEntry saved{};
    std::optional<PortMap> map;
    std::unique_ptr<FakeDevice> device;
    std::unique_ptr<PluginLib> lib;
    Setup() {
        const std::string list = settings().folder() + "/ftdi.list";
        const std::string link = settings().folder() + "/usb";
        const std::string serial = "BENCH" + std::to_string(::getpid());
        std::ofstream(list) << serial << "|New PX-2 USB driver|" << link << "\n";
        ::setenv("TAVIK_FTDI_DOUBLE", list.c_str(), 1);
        ConnectionInfoEntry& e = info->map().entries[entry];
        saved = e;
        setFieldString(e.serialNumber, serial);
        setFieldString(e.description, "New PX-2 USB driver");
        platform::storeWord(e.inUse, 1);
        map = PortMap::open(kFirstUsbPort + entry);
        fillDeviceFields(map->map());
        device = std::make_unique<FakeDevice>(padsim::DeviceConfig{}, link);
        lib = std::make_unique<PluginLib>("Padrik_ft");
        lib->drvInit(kFirstUsbPort + entry);
        lib->drvStart();
        waitUntil([&] { return map->map().deviceIdentified == 1; });
    }
    ~Setup() {
        lib.reset();
        device.reset();
        info->map().entries[entry] = saved;
    }
};

void BM_UsbKeyToNotify(benchmark::State& state) {
    Setup s;
    std::vector<double> us;
    for (auto _ : state) us = keyToNotifyRun(s.map->map(), *s.device, 200);
    reportLatency(state, us);
}
BENCHMARK(BM_UsbKeyToNotify)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_UsbSlotWriteToWire(benchmark::State& state) {
    Setup s;
    std::vector<double> us;
    for (auto _ : state) us = slotWriteToWireRun(s.map->map(), *s.device, 60);
    reportLatency(state, us);
}
BENCHMARK(BM_UsbSlotWriteToWire)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
