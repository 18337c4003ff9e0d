// Which window-facts channel this session has: sway's IPC, our GNOME Shell extension, our KWin
// script, tried in that order; nullptr when none answers (window places then come from the
// accessibility extents alone).
#pragma once

#include <memory>

#include "platform/desktop/window_facts.h"

namespace tavik::desktop::wayland {

std::unique_ptr<WindowFacts> openWindowFacts();

}  // namespace tavik::desktop::wayland
