// Latency runs shared by the plug-in benchmarks: a device key to the notify
// message in a client thread's queue, and a slot write to its frames on the
// wire, against the device model on a pseudo-terminal. Results are samples in
// microseconds, reported as median and 99th percentile.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

#include "tests/drivers/plugin_harness.h"

namespace tavik::test {

// Enters slot 0 for a client thread of this process and times `samples` key
// frames from the device to that thread's queue.
std::vector<double> keyToNotifyRun(PortDataMap& map, FakeDevice& device, int samples);

// Enters slot 0 and times `samples` graphic writes until `frames` more frames
// have reached the device; each write waits out the plug-in's pacing first.
std::vector<double> slotWriteToWireRun(PortDataMap& map, FakeDevice& device, int samples, int frames = 2);

// Median, 99th percentile and sample count as counters of the benchmark.
void reportLatency(benchmark::State& state, std::vector<double>& us);

}  // namespace tavik::test
