// Latency of the whole display road, measured from the application's side:
// gdDisplayGraphicData until the last byte of the second plane frame has
// arrived on the device's end of the line, and a device key frame written on
// the line until the application's key callback runs. The real controller and
// serial plug-in run in between; the device end is played in-process on a
// pseudo-terminal with padsim's device model. Reports median and 99th
// percentile per benchmark as counters (milliseconds).
#include "client/tavikutil.h"
#include "device_model.h"
#include "host_frame_reader.h"
#include "port.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The device end of the line: answers identification and notes when each
// plane-2 frame is complete.
class Device {
public:
    bool start(std::string& error) {
        if (!pty_.open(error)) return false;
        thread_ = std::thread([this] { run(); });
        return true;
    }
    ~Device() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    const std::string& path() const { return pty_.slavePath(); }

    // Waits for the next completed plane-2 frame after `count` and returns its time.
    Clock::time_point waitPlane(uint64_t count) {
        std::unique_lock lock(m_);
        cv_.wait_for(lock, std::chrono::seconds(10), [&] { return planes_ > count; });
        return lastPlane_;
    }
    uint64_t planes() {
        std::lock_guard lock(m_);
        return planes_;
    }
    void sendKey() {
        const uint8_t key[4] = {4, 1, 0, 0};
        auto frame = model_.keyFrame(key);
        ssize_t n = ::write(pty_.master(), frame.data(), frame.size());
        (void)n;
    }

private:
    void run() {
        padsim::HostFrameReader reader(
            [&](const padsim::HostFrame& f) {
                auto out = model_.handle(f);
                if (!out.reply.empty()) {
                    ssize_t n = ::write(pty_.master(), out.reply.data(), out.reply.size());
                    (void)n;
                }
                if (f.command == 0x93 && f.parameter != 0) {
                    std::lock_guard lock(m_);
                    ++planes_;
                    lastPlane_ = Clock::now();
                    cv_.notify_all();
                }
            },
            [](std::span<const uint8_t>) {});
        std::vector<uint8_t> buf(4096);
        while (!stop_) {
            pollfd p{pty_.master(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = ::read(pty_.master(), buf.data(), buf.size());
            if (n <= 0) continue;
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
            reader.feed({buf.data(), static_cast<std::size_t>(n)}, static_cast<uint64_t>(ms.count()));
        }
    }

    padsim::PtyPort pty_;
    padsim::DeviceModel model_{padsim::DeviceConfig{}};
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex m_;
    std::condition_variable cv_;
    uint64_t planes_ = 0;
    Clock::time_point lastPlane_;
};

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

// One entry for the whole run.
struct Stack {
    Device device;
    bool ok = false;
    std::string dir;
    Stack() {
        const char* bin = std::getenv("TAVIK_BIN_DIR");
        if (!bin) return;
        dir = (std::filesystem::temp_directory_path() / ("tavik-client-bench-" + std::to_string(::getpid()))).string();
        std::filesystem::create_directories(dir + "/Orvane/TAVIK200_J");
        ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        ::setenv("TAVIK_PATH", (std::string(bin) + "/TAVIK").c_str(), 1);
        std::string error;
        if (!device.start(error)) return;
        const int port = 10 + ::getpid() % 50;
        std::ofstream(dir + "/Orvane/TAVIK200_J/TAVIK.ini")
            << "[Ports]\nCom" << port + 1 << "=" << device.path() << "\n";
        if (!gdStart("QX-64X48", port, nullptr) || !gdStartDisplayMode(3, onKey, nullptr, nullptr)) return;
        for (int i = 0; i < 500 && !gdQueryEquipment(-1, nullptr, nullptr, nullptr, nullptr); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ok = gdQueryEquipment(-1, nullptr, nullptr, nullptr, nullptr) == 1;
    }
    ~Stack() {
        gdEnd();
        std::filesystem::remove_all(dir);
    }
};

Stack& stack() {
    static Stack s;
    return s;
}

void report(benchmark::State& state, std::vector<double>& ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, (ms.size() * 99) / 100)];
}

void BM_GraphicToWire(benchmark::State& state) {
    Stack& s = stack();
    if (!s.ok) {
        state.SkipWithError("controller, plug-in or device not available");
        return;
    }
    // Argument: idle time before each write. 0 measures back-to-back writes,
    // which wait out the plug-in's pacing after the previous frame.
    const auto idle = std::chrono::milliseconds(state.range(0));
    std::vector<unsigned char> p1(64 * 6), p2(64 * 6);
    std::vector<double> ms;
    int n = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(idle);
        std::fill(p1.begin(), p1.end(), static_cast<unsigned char>(n++));
        std::fill(p2.begin(), p2.end(), static_cast<unsigned char>(~n));
        const uint64_t before = s.device.planes();
        const auto t0 = Clock::now();
        gdDisplayGraphicData(p1.data(), p2.data(), 5);
        const auto t1 = s.device.waitPlane(before);
        const double d = std::chrono::duration<double, std::milli>(t1 - t0).count();
        state.SetIterationTime(d / 1000.0);
        ms.push_back(d);
    }
    report(state, ms);
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
        s.device.sendKey();
        std::unique_lock lock(keyMutex);
        keyCv.wait_for(lock, std::chrono::seconds(10), [&] { return keys > before; });
        const double d = std::chrono::duration<double, std::milli>(lastKey - t0).count();
        state.SetIterationTime(d / 1000.0);
        ms.push_back(d);
    }
    report(state, ms);
}
BENCHMARK(BM_KeyToCallback)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
