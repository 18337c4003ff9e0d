// What a D-Bus error from the portal means for screen capture.
#pragma once

#include <string_view>

#include "platform/desktop/portals/session.h"

namespace tavik::desktop::wayland {

// `name` is the D-Bus error name ("org.freedesktop.DBus.Error.ServiceUnknown", ...).
PortalResult classifyDBusError(std::string_view name);

}  // namespace tavik::desktop::wayland
