// D-Bus error names sorted into the missing pieces they point at.
#include "platform/desktop/portals/errors.h"

namespace tavik::desktop::wayland {

PortalResult classifyDBusError(std::string_view name) {
    constexpr std::string_view kBus = "org.freedesktop.DBus.Error.";
    if (!name.starts_with(kBus)) return PortalResult::Failed;
    const std::string_view e = name.substr(kBus.size());
    // Nobody owns the portal's name and the bus cannot start it.
    if (e == "ServiceUnknown" || e == "NameHasNoOwner" || e.starts_with("Spawn.")) return PortalResult::NoPortal;
    // The portal runs but has no screen cast (no back end for this desktop offers one).
    if (e == "UnknownInterface" || e == "UnknownMethod" || e == "UnknownObject" || e == "UnknownProperty" ||
        e == "InvalidArgs")
        return PortalResult::NoScreenCast;
    if (e == "NoReply" || e == "Timeout" || e == "TimedOut") return PortalResult::Silent;
    if (e == "AccessDenied") return PortalResult::Refused;
    return PortalResult::Failed;
}

}  // namespace tavik::desktop::wayland
