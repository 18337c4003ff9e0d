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

// For a hand-off in which each of two processes writes its own word and then
// reads the other's (a controller withdrawing its thread id while a client
// raises the entry count): with the write and the read both sequentially
// consistent, at least one of the two sees the other's write. No separate
// fence is needed (nor wanted: race checkers do not model fences).
inline int32_t swapWordSeqCst(int32_t& word, int32_t value) {
    return std::atomic_ref<int32_t>(word).exchange(value, std::memory_order_seq_cst);
}

inline int32_t addWordSeqCst(int32_t& word, int32_t delta) {
    return std::atomic_ref<int32_t>(word).fetch_add(delta, std::memory_order_seq_cst) + delta;
}

inline int32_t loadWordSeqCst(int32_t& word) { return std::atomic_ref<int32_t>(word).load(std::memory_order_seq_cst); }

}  // namespace tavik::platform
