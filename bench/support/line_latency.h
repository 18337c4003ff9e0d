// What the end-to-end latency benchmarks over a serial line share: the device
// end of the line played in-process on a pseudo-terminal with padsim's device
// model, a private configuration folder that names that line as a port, the
// write-to-wire timing loop and the median / 99th percentile counters.
#pragma once

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device_model.h"
#include "host_frame_reader.h"
#include "port.h"

namespace tavik::bench {

using Clock = std::chrono::steady_clock;

// The device end of the line: answers the plug-in as the device model does
// and stamps the arrival of every frame that `timed` picks.
class PtyDevice {
public:
    using Pick = std::function<bool(const padsim::HostFrame&)>;
    explicit PtyDevice(Pick timed);
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    // Opens the pseudo-terminal and starts answering; false with `error` set on failure.
    bool start(std::string& error);
    // The slave's path: the serial port the plug-in opens.
    const std::string& path() const { return pty_.slavePath(); }

    // How many picked frames have arrived so far.
    uint64_t count();
    // Waits up to `bound` until more than `count` picked frames have arrived;
    // the arrival time of the last one, nothing when none came in time.
    std::optional<Clock::time_point> waitBeyond(uint64_t count,
                                                std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Writes a key frame of the device (`group`, `key`) on the line.
    void sendKey(uint8_t group, uint8_t key);

private:
    void run();

    const Pick timed_;
    padsim::PtyPort pty_;
    std::mutex m_;  // the model, the count and the time
    std::condition_variable cv_;
    padsim::DeviceModel model_{padsim::DeviceConfig{}};
    uint64_t count_ = 0;
    Clock::time_point last_{};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A private XDG_CONFIG_HOME below the temporary folder whose TAVIK.ini names
// `line` as port `port` (0-based, as the client library counts); removed again
// on destruction.
class PortConfig {
public:
    PortConfig(const std::string& name, int port, const std::string& line);
    ~PortConfig();
    PortConfig(const PortConfig&) = delete;
    PortConfig& operator=(const PortConfig&) = delete;
    const std::string& dir() const { return dir_; }
    bool ok() const { return ok_; }

private:
    std::string dir_;
    bool ok_ = false;
};

// Median and 99th percentile of `ms` as the counters median_ms and p99_ms (sorts `ms`).
void reportLatency(benchmark::State& state, std::vector<double>& ms);

// The write-to-wire loop: each iteration idles state.range(0) ms (0: back-to-back writes, which
// wait out the plug-in's pacing after the one before), lets `prepare` make the n-th write (not
// timed) and times `send` until the device has one more picked frame; reports the latencies.
// The benchmark is skipped, naming `what`, when a frame does not come within 10 s.
void timeWritesToWire(benchmark::State& state, PtyDevice& device, const std::function<void(int n)>& prepare,
                      const std::function<void()>& send, const char* what);

// Milliseconds from `from` to `to`.
inline double millisBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace tavik::bench
