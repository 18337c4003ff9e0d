// Running the controller with its window: the display check made before any
// toolkit touches the display, and the message loop under Qt.
#pragma once

#include <cstdint>
#include <optional>

#include "common/messages.h"
#include "controller/message_loop.h"
#include "platform/thread_queue.h"

namespace tavik::controller::ui {

// True when a window can be shown: QT_QPA_PLATFORM names a platform, or a
// child process could open the named display within `boundMs`. A display
// that is named but unreachable gives false (Qt would end the process).
// Forks: call it before any thread starts.
bool displayUsable(int boundMs = 5000);

// Runs the controller of `portIndex` with its window until it ends, then
// shuts it down. Returns the program's exit status.
int runWindowed(int argc, char** argv, const MessageNumbers& messages, platform::ThreadQueue& queue, int signalFd,
                std::optional<int32_t> portIndex, LoopTiming timing = {});

}  // namespace tavik::controller::ui
