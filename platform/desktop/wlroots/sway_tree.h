// Where the compositor put its windows: the window list of an i3-style IPC tree (sway's
// "get_tree" reply, JSON) and the match of an accessibility or toplevel window to one of them.
// A Wayland client does not know where it is on the screen, so toolkits report accessibility
// extents relative to their own window; the compositor's tree gives the real place.
// Pure, so tests drive it without a compositor.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop/window_facts.h"

namespace tavik::desktop::wayland {

// One window (a view with content) of the tree: its frame is the node's place, its content
// the client's part of it.
using CompositorWindow = WindowFact;
using tavik::desktop::windowOfApp;
using tavik::desktop::windowOfProcess;

// The windows of a get_tree reply, tiled and floating, in the order of the tree. Content
// rectangles: the node's `rect` moved by its `window_rect` (which is relative to the node), in
// 64 bits and clamped to int32. Malformed or hostile input (bad JSON, nesting deeper than 64,
// wrong types) gives what was read before the fault, never a crash.
std::vector<CompositorWindow> parseCompositorTree(std::string_view json);

}  // namespace tavik::desktop::wayland
