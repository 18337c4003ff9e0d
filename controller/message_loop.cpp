// Message loop: poll on the thread queue and the signal descriptor.
#include "controller/message_loop.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace tavik::controller {

LoopEnd runMessageLoop(Controller& controller, platform::ThreadQueue& queue, int signalFd,
                       const MessageNumbers& messages, LoopTiming timing, LoopTicker ticker) {
    using Clock = std::chrono::steady_clock;
    auto nextSlowTick = Clock::now();
    const bool ticking = ticker.intervalMs > 0 && ticker.run;
    auto nextTick = Clock::now();
    for (;;) {
        if (ticking && Clock::now() >= nextTick) {
            ticker.run();
            const int next = ticker.nextMs ? ticker.nextMs() : ticker.intervalMs;
            nextTick = Clock::now() + std::chrono::milliseconds(next > 0 ? next : ticker.intervalMs);
        }
        // Messages first, a bounded batch so a flood cannot starve the idle check.
        int taken = 0;
        platform::ThreadMessage msg;
        while (taken < timing.maxBatch && queue.peek(msg)) {
            ++taken;
            if (msg.message == messages.command) controller.dispatchCommand(msg.wParam, msg.lParam);
        }
        if (taken < timing.maxBatch || Clock::now() >= nextSlowTick) {
            const bool slow = Clock::now() >= nextSlowTick;
            if (slow) nextSlowTick = Clock::now() + std::chrono::milliseconds(timing.slowTickMs);
            if (controller.idleCheck(slow)) return LoopEnd::ControllerDone;
        }
        if (taken == timing.maxBatch) continue;

        pollfd fds[2] = {{queue.fd(), POLLIN, 0}, {signalFd, POLLIN, 0}};
        int waitMs = timing.idleMs;
        if (ticking) {
            const auto untilTick = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now()).count();
            if (untilTick < waitMs) waitMs = untilTick < 0 ? 0 : static_cast<int>(untilTick);
        }
        const int n = ::poll(fds, signalFd >= 0 ? 2 : 1, waitMs);
        if (n < 0 && errno != EINTR) return LoopEnd::QueueFailed;
        if (signalFd >= 0 && n > 0 && (fds[1].revents & POLLIN)) {
            signalfd_siginfo info{};
            if (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                std::fprintf(stderr, "TAVIK: signal %u received, ending\n", info.ssi_signo);
                return LoopEnd::Signal;
            }
        }
        if (n > 0 && (fds[0].revents & (POLLERR | POLLNVAL))) return LoopEnd::QueueFailed;
    }
}

}  // namespace tavik::controller
