// Shared (non-private) futexes on words of mapped sections.
#include "platform/word_wait.h"

#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tavik::platform {

void waitWordChange(int32_t& word, int32_t expected, int timeoutMs) {
    if (timeoutMs <= 0) return;
    timespec ts{};
    ts.tv_sec = timeoutMs / 1000;
    ts.tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000L;
    ::syscall(SYS_futex, &word, FUTEX_WAIT, expected, &ts, nullptr, 0);
}

void wakeWordWaiters(int32_t& word) { ::syscall(SYS_futex, &word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0); }

}  // namespace tavik::platform
