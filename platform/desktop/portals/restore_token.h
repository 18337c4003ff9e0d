// The screen-cast permission kept between runs: the portal's restore token in a file of the
// suite's settings folder, readable by the user alone, so the user consents once.
#pragma once

#include <string>
#include <string_view>

namespace tavik::desktop::wayland {

// "$XDG_CONFIG_HOME/Orvane/TAVIK200_J/ScreenCast.token" (default ~/.config), creating missing
// folders (mode 0700); "" when there is no per-user folder.
std::string restoreTokenPath();

// A token as the portal gives it: 1 to 256 printable ASCII characters, no spaces.
bool validRestoreToken(std::string_view token);

// The token stored at `path`; "" when there is none, it is unreadable, or it is not a valid token
// (a file another program wrote is never passed on as it stands).
std::string loadRestoreToken(const std::string& path);

// Replaces the file at `path` with `token` (mode 0600, written beside it and renamed over it, so a
// reader never sees half a token). An empty token removes the file. False on failure or when
// `token` is not valid.
bool saveRestoreToken(const std::string& path, std::string_view token);

}  // namespace tavik::desktop::wayland
