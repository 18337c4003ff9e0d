// The controller's message loop on the main thread's queue: command messages
// go to the dispatcher, the idle check runs whenever the queue is empty, and a
// termination signal (read from a signalfd) ends the loop cleanly. An
// optional ticker runs at its own interval.
#pragma once

#include <functional>

#include "common/messages.h"
#include "controller/controller.h"
#include "platform/thread_queue.h"

namespace tavik::controller {

struct LoopTiming {
    // Wait for a message before the next idle check. Messages, signals and ticks wake the loop
    // at once; the idle check only notices the last client gone (the controller then ends up to
    // this much later), finished request threads and a reopen's label.
    int idleMs = 100;
    int slowTickMs = 200;  // dead-client reclaim and unopened-port checks
    int maxBatch = 64;     // messages taken before an idle check is forced
};

enum class LoopEnd { ControllerDone, Signal, QueueFailed };

// Work the loop runs every `intervalMs` besides the messages (joystick polls).
struct LoopTicker {
    int intervalMs = 0;  // 0: none
    std::function<void()> run;
    std::function<int()> nextMs;  // when set: the interval after each run (> 0), else intervalMs
};

// Blocks until the controller's idle check says to end, a signal arrives on
// `signalFd` (-1: none) or the queue fails. Does not run the shutdown.
LoopEnd runMessageLoop(Controller& controller, platform::ThreadQueue& queue, int signalFd,
                       const MessageNumbers& messages, LoopTiming timing = {}, LoopTicker ticker = {});

}  // namespace tavik::controller
