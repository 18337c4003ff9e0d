// Latency of the serial plug-in on a pseudo-terminal: from a key frame's last
// byte on the wire to the notify message in the client's queue, and from a
// slot write to the last byte of its frames on the wire. Each benchmark takes
// many samples and reports their median and 99th percentile (microseconds).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <unistd.h>

#include "common/messages.h"
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
BENCHMARK(BM_KeyToNotify)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SlotWriteToWire(benchmark::State& state) {
    Setup s;
    NotifyThread client;
    enterDisplaySlot(s.map->map(), 0, ::getpid(), client.threadId(), true);
    std::vector<uint8_t> dots(64 * 48);
    std::vector<double> us;
    for (auto _ : state) {
        for (int i = 0; i < 60; ++i) {
            // Longer than the 100 ms pacing pause after each send.
            std::this_thread::sleep_for(std::chrono::milliseconds(120));
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
BENCHMARK(BM_SlotWriteToWire)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
