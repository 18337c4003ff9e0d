// Latency runs shared by the plug-in benchmarks.
#include "bench/drivers/latency_runs.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

#include "platform/thread_queue.h"

namespace tavik::test {
using Clock = std::chrono::steady_clock;

std::vector<double> keyToNotifyRun(PortDataMap& map, FakeDevice& device, int samples) {
    std::atomic<int32_t> tid{0};
    std::atomic<bool> stop{false};
    std::atomic<int64_t> receivedNs{0};
    std::thread client([&] {
        auto q = platform::ThreadQueue::createForCurrentThread();
        tid = q->threadId();
        platform::ThreadMessage m{};
        while (!stop) {
            // The receiving thread stamps the arrival itself.
            if (q->wait(m, 20)) receivedNs = Clock::now().time_since_epoch().count();
        }
    });
    while (tid == 0) std::this_thread::yield();
    enterDisplaySlot(map, 0, ::getpid(), tid, true);
    const uint8_t key[] = {4, 1, 0, 0};
    const auto frame = padsim::DeviceModel::frame(0xE1, 0, key);
    std::vector<double> us;
    for (int i = 0; i < samples; ++i) {
        receivedNs = 0;
        const auto sent = Clock::now();
        device.send(frame);
        waitUntil([&] { return receivedNs.load() != 0; }, std::chrono::milliseconds(2000));
        if (receivedNs) us.push_back(static_cast<double>(receivedNs.load() - sent.time_since_epoch().count()) / 1000.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
    client.join();
    return us;
}

std::vector<double> slotWriteToWireRun(PortDataMap& map, FakeDevice& device, int samples, int frames) {
    NotifyThread client;
    enterDisplaySlot(map, 0, ::getpid(), client.threadId(), true);
    // The plug-in clears the display once a slot enters display mode; let
    // that send and its pacing pass before the first sample.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const size_t n = static_cast<size_t>(map.graphicWidth) * static_cast<size_t>(map.graphicHeight);
    std::vector<uint8_t> dots(n);
    std::vector<double> us;
    for (int i = 0; i < samples; ++i) {
        // Longer than the 100 ms pacing pause after each send.
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        for (size_t k = 0; k < dots.size(); ++k) dots[k] = static_cast<uint8_t>((k + static_cast<size_t>(i)) % 3);
        uint64_t before = 0;
        device.inspect([&](const padsim::DeviceModel& d) { before = d.state().framesReceived; });
        const auto start = Clock::now();
        writeSlot(map, 0, {}, dots);
        if (device.waitFor([&](const padsim::DeviceModel& d) {
                return d.state().framesReceived >= before + static_cast<uint64_t>(frames);
            }, 2000))
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return us;
}

void reportLatency(benchmark::State& state, std::vector<double>& us) {
    if (us.empty()) {
        state.SkipWithError("no samples");
        return;
    }
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    state.counters["samples"] = static_cast<double>(us.size());
}

}  // namespace tavik::test
