// Atomic access to 32-bit words of shared sections: busy flags, the send lock,
// and values one process writes while another polls them.
#pragma once

#include <atomic>
#include <cstdint>

namespace tavik::platform {

// Takes a 0/1 flag: succeeds only if it read 0 and this call wrote 1.
inline bool tryTakeFlag(int32_t& word) {
    int32_t expected = 0;
    return std::atomic_ref<int32_t>(word).compare_exchange_strong(expected, 1, std::memory_order_acq_rel);
}

inline void releaseFlag(int32_t& word) { std::atomic_ref<int32_t>(word).store(0, std::memory_order_release); }

inline int32_t loadWord(int32_t& word) { return std::atomic_ref<int32_t>(word).load(std::memory_order_acquire); }

inline void storeWord(int32_t& word, int32_t value) {
    std::atomic_ref<int32_t>(word).store(value, std::memory_order_release);
}

inline int32_t addWord(int32_t& word, int32_t delta) {
    return std::atomic_ref<int32_t>(word).fetch_add(delta, std::memory_order_acq_rel) + delta;
}

inline bool exchangeWord(int32_t& word, int32_t expected, int32_t desired) {
    return std::atomic_ref<int32_t>(word).compare_exchange_strong(expected, desired, std::memory_order_acq_rel);
}

}  // namespace tavik::platform
