// The check a toolkit-side library makes before it starts a GUI of its own: Qt ends the
// process whose display it cannot reach, and the process is an application that only called us.
#pragma once

namespace tavik::desktop {

// True when a GUI can start here without ending the process: a platform chosen by the
// environment (QT_QPA_PLATFORM, offscreen in tests), a Wayland session, or an X display named by
// DISPLAY that opens now. A named display that does not open gives false, and so does DISPLAY in
// a build without X11 (no way to check: the caller is never risked). Blocks for one connection
// attempt.
bool guiDisplayReachable();

}  // namespace tavik::desktop
