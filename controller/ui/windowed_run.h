// Running the controller with its window: the display check made before any
// toolkit touches the display, and the message loop under Qt.
#pragma once

#include <cstdint>
#include <optional>

#include "common/messages.h"
#include "controller/message_loop.h"
#include "platform/desktop/display_check.h"
#include "platform/thread_queue.h"

namespace tavik::controller::ui {

// True when a window can be shown: the desktop layer's display check
// (desktop::holdGuiDisplay, bounded). A display that is named but does
// not answer gives false: the controller then runs headless instead of
// letting the toolkit end the process. The result holds the check's
// connection: hand it to runWindowed, which lets go once its own is made.
desktop::DisplayHold displayUsable();

// Runs the controller of `portIndex` with its window until it ends, then
// shuts it down. Returns the program's exit status. `inheritedClaimFd` (or -1):
// see Controller::inheritClaim.
int runWindowed(int argc, char** argv, const MessageNumbers& messages, platform::ThreadQueue& queue, int signalFd,
                std::optional<int32_t> portIndex, int inheritedClaimFd = -1, LoopTiming timing = {},
                desktop::DisplayHold displayHold = {});

}  // namespace tavik::controller::ui
