// Latency of the USB plug-in over the FTDI double: from a key frame on the
// wire to the notify message in the client's queue (the transport polls the
// link's input count 1 ms apart), and from a slot write to both raw planes on
// the wire (each plane is followed by draining the output). Median and 99th
// percentile in microseconds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "platform/atomic_word.h"
#include "platform/thread_queue.h"
#include "tests/drivers/plugin_harness.h"

using namespace tavik;
using namespace tavik::test;
using Clock = std::chrono::steady_clock;

namespace {

void report(benchmark::State& state, std::vector<double>& us) {
    if (us.empty()) {
        state.SkipWithError("no samples");
        return;
    }
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    state.counters["samples"] = static_cast<double>(us.size());
}

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
    std::atomic<int32_t> tid{0};
    std::atomic<bool> stop{false};
    std::atomic<int64_t> receivedNs{0};
    std::thread client([&] {
        auto q = platform::ThreadQueue::createForCurrentThread();
        tid = q->threadId();
        platform::ThreadMessage m{};
        while (!stop) {
            if (q->wait(m, 20)) receivedNs = Clock::now().time_since_epoch().count();
        }
    });
    while (tid == 0) std::this_thread::yield();
    enterDisplaySlot(s.map->map(), 0, ::getpid(), tid, true);
    const uint8_t key[] = {4, 1, 0, 0};
    const auto frame = padsim::DeviceModel::frame(0xE1, 0, key);
    std::vector<double> us;
    for (auto _ : state) {
        for (int i = 0; i < 200; ++i) {
            receivedNs = 0;
            const auto sent = Clock::now();
            s.device->send(frame);
            waitUntil([&] { return receivedNs.load() != 0; }, 2000);
            if (receivedNs) us.push_back(static_cast<double>(receivedNs.load() - sent.time_since_epoch().count()) / 1000.0);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    stop = true;
    client.join();
    report(state, us);
}
BENCHMARK(BM_UsbKeyToNotify)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_UsbSlotWriteToWire(benchmark::State& state) {
    Setup s;
    NotifyThread client;
    enterDisplaySlot(s.map->map(), 0, ::getpid(), client.threadId(), true);
    std::vector<uint8_t> dots(64 * 48);
    std::vector<double> us;
    for (auto _ : state) {
        for (int i = 0; i < 60; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(120));  // past the 100 ms pacing pause
            for (size_t k = 0; k < dots.size(); ++k) dots[k] = static_cast<uint8_t>((k + static_cast<size_t>(i)) % 3);
            uint64_t before = 0;
            s.device->inspect([&](const padsim::DeviceModel& d) { before = d.state().framesReceived; });
            const auto start = Clock::now();
            writeSlot(s.map->map(), 0, {}, dots);
            if (s.device->waitFor([&](const padsim::DeviceModel& d) { return d.state().framesReceived >= before + 2; },
                                  2000))
                us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    report(state, us);
}
BENCHMARK(BM_UsbSlotWriteToWire)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
