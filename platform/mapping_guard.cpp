// SIGBUS handler and the lock-free table of guarded mappings. The handler
// uses only atomics and mmap (a plain system call), so it is safe in any
// thread at any point.
#include "platform/mapping_guard.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>

namespace tavik::platform {
namespace {

constexpr int kMaxMappings = 2048;

struct Entry {
    std::atomic<uintptr_t> begin{0};  // 0: free; 1: being filled in
    std::atomic<std::size_t> size{0};
    std::atomic<bool> lost{false};
};

Entry g_entries[kMaxMappings];
struct sigaction g_previous {};
std::once_flag g_installed;

void passOn(int sig, siginfo_t* info, void* context) {
    if (g_previous.sa_flags & SA_SIGINFO) {
        if (g_previous.sa_sigaction) {
            g_previous.sa_sigaction(sig, info, context);
            return;
        }
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(sig);
        return;
    }
    // Default action: returning re-runs the faulting access, which then ends
    // the process as if no handler had been installed.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(SIGBUS, &dfl, nullptr);
}

void onSigbus(int sig, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Entry& e : g_entries) {
        const uintptr_t b = e.begin.load(std::memory_order_acquire);
        if (b <= 1) continue;
        const std::size_t n = e.size.load(std::memory_order_acquire);
        if (at < b || at - b >= n) continue;
        void* r = ::mmap(reinterpret_cast<void*>(b), n, PROT_READ | PROT_WRITE,
                         MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (r != MAP_FAILED) {
            e.lost.store(true, std::memory_order_release);
            return;
        }
        break;
    }
    passOn(sig, info, context);
}

void install() {
    struct sigaction sa {};
    sa.sa_sigaction = onSigbus;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGBUS, &sa, &g_previous);
}

}  // namespace

int registerMapping(void* addr, std::size_t size) {
    if (!addr || size == 0) return -1;
    std::call_once(g_installed, install);
    for (int i = 0; i < kMaxMappings; ++i) {
        uintptr_t expected = 0;
        if (!g_entries[i].begin.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) continue;
        g_entries[i].size.store(size, std::memory_order_release);
        g_entries[i].lost.store(false, std::memory_order_release);
        g_entries[i].begin.store(reinterpret_cast<uintptr_t>(addr), std::memory_order_release);
        return i;
    }
    return -1;
}

void unregisterMapping(int handle) {
    if (handle < 0 || handle >= kMaxMappings) return;
    g_entries[handle].begin.store(1, std::memory_order_release);
    g_entries[handle].size.store(0, std::memory_order_release);
    g_entries[handle].begin.store(0, std::memory_order_release);
}

bool mappingLost(int handle) {
    return handle >= 0 && handle < kMaxMappings && g_entries[handle].lost.load(std::memory_order_acquire);
}

}  // namespace tavik::platform
