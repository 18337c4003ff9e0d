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

#include "platform/desktop/desktop.h"

namespace tavik::desktop::wayland {

// One window (a view with content) of the tree.
struct CompositorWindow {
    int64_t id = 0;      // the compositor's node id
    int32_t pid = 0;     // 0 when the tree does not give it
    std::string appId;   // Wayland app id (or the X11 class of an Xwayland window)
    std::string title;
    Rect content;        // its content (no decorations) in layout pixels
    bool focused = false;
};

// The windows of a get_tree reply, tiled and floating, in the order of the tree. Content
// rectangles: the node's `rect` moved by its `window_rect` (which is relative to the node), in
// 64 bits and clamped to int32. Malformed or hostile input (bad JSON, nesting deeper than 64,
// wrong types, more than 2^18 values) gives what was read before the fault, never a crash;
// members the walk does not use are read but not kept.
std::vector<CompositorWindow> parseCompositorTree(std::string_view json);

// The window of process `pid` with `title`; else the one window of `pid` when it has only one.
// nullptr when none fits or `pid` <= 0.
const CompositorWindow* windowOfProcess(std::span<const CompositorWindow> windows, int32_t pid,
                                        std::string_view title);
// The window with `appId` and `title` (a toplevel of the compositor's list); without a title
// match, the one window of `appId` when it has only one. nullptr when none fits.
const CompositorWindow* windowOfApp(std::span<const CompositorWindow> windows, std::string_view appId,
                                    std::string_view title);

}  // namespace tavik::desktop::wayland
