// One line on stderr for each piece of a Wayland session the capture needs but did not find,
// said once per process, naming the Debian package that brings it.
#pragma once

namespace tavik::desktop::wayland {

enum class Missing {
    SessionBus,    // no D-Bus session bus to reach the portal on
    Portal,        // no desktop portal service on the bus
    ScreenCast,    // the portal has no screen-cast back end for this desktop
    PipeWire,      // the PipeWire service is not running
    PortalSilent,  // the portal did not answer in time
    Refused,       // the user refused the screen cast
};

// The line for `what` (no newline).
const char* missingText(Missing what);
// Writes missingText(what) to stderr unless this process said it before.
void noteMissing(Missing what);

}  // namespace tavik::desktop::wayland
