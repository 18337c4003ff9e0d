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

// A line for a benchmark run: the device end started, a port number of this process's own and
// the configuration folder that names the line as that port.
struct BenchLine {
    explicit BenchLine(PtyDevice::Pick timed) : device(std::move(timed)) {}
    // False when TAVIK_BIN_DIR (the folder holding the programs) is not set or the line or its
    // folder (named after `name`) could not be made.
    bool open(const std::string& name);
    const std::string& dir() const { return config->dir(); }

    PtyDevice device;
    std::string bin;  // TAVIK_BIN_DIR
    int port = -1;
    std::optional<PortConfig> config;
};

// Median and 99th percentile of `ms` as the counters median_ms and p99_ms (sorts `ms`).
void reportLatency(benchmark::State& state, std::vector<double>& ms);

// The timing loop: each iteration idles `idle`, lets `prepare` make the n-th round (not timed),
// then times from `send` until the moment `arrived` gives (it waits, bounded, for the far end and
// gives nothing when that did not come); reports the latencies. The benchmark is skipped, naming
// `what`, when a round gives nothing.
using Arrival = std::optional<Clock::time_point>;
void timeRounds(benchmark::State& state, std::chrono::milliseconds idle, const std::function<void(int n)>& prepare,
                const std::function<void()>& send, const std::function<Arrival()>& arrived, const char* what);

// The write-to-wire loop: timeRounds with state.range(0) ms of idle time (0: back-to-back
// writes, which wait out the plug-in's pacing after the one before), until the device has one
// more picked frame (within 10 s).
void timeWritesToWire(benchmark::State& state, PtyDevice& device, const std::function<void(int n)>& prepare,
                      const std::function<void()>& send, const char* what);

// The rig the benchmarks of a program share (its `ok` says it came up), made at the first call
// and kept for the whole run; null, with the benchmark skipped naming `missing`, when it is not ok.
template <class Rig>
Rig* sharedRig(benchmark::State& state, const char* missing) {
    static Rig rig;
    if (rig.ok) return &rig;
    state.SkipWithError(missing);
    return nullptr;
}

// Milliseconds from `from` to `to`.
inline double millisBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace tavik::bench
