// Waiting for a condition in tests: polled, always with a bound.
#pragma once

#include <chrono>
#include <functional>

namespace tavik::test {

using namespace std::chrono_literals;

// A generous bound for anything a test waits for; a healthy run takes far
// less, so it only matters when the code under test is broken.
inline constexpr std::chrono::milliseconds kWait = 20s;

// Polls `pred` until it holds (true) or `bound` has passed (false; `pred` is
// tried once more at the end).
bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds bound = kWait);

}  // namespace tavik::test
