// The tests' bounded polling wait.
#include "tests/support/wait.h"

#include <thread>

namespace tavik::test {

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return pred();
        std::this_thread::sleep_for(5ms);
    }
}

}  // namespace tavik::test
