// Window ids of the Wayland back end and how a compositor's toplevel is matched to an
// accessibility window. Pure, so tests drive them without a bus or a compositor.
//
// Ids (64 bits, never 0):
// - a window known to AT-SPI: a hash (FNV-1a) of its accessible's bus name and object path, bit
//   63 clear. The same window keeps its id for its whole life and in every process of the
//   suite, since both names are fixed while the window exists.
// - a toplevel the compositor lists but AT-SPI does not know: bit 63 set, the low bits a
//   sequence number of this process's toplevel list (stable while the toplevel exists).
// - the window in front as only the compositor's window facts know it: see factsWindowId.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/desktop/desktop.h"

namespace tavik::desktop::wayland {

constexpr WindowId kToplevelIdBit = WindowId{1} << 63;

WindowId atspiWindowId(std::string_view busName, std::string_view objectPath);
inline WindowId toplevelWindowId(uint64_t sequence) { return kToplevelIdBit | (sequence & ~kToplevelIdBit); }
// A window only the compositor's window facts know (no toplevel list, no accessible): bits 63 and
// 62 set over the facts' own id (toplevel sequence numbers never reach bit 62).
constexpr WindowId kFactsIdBits = kToplevelIdBit | (WindowId{1} << 62);
inline WindowId factsWindowId(int64_t factId) { return static_cast<WindowId>(factId) | kFactsIdBits; }
inline bool isFactsWindowId(WindowId id) { return (id & kFactsIdBits) == kFactsIdBits; }

// An accessibility window as the matcher sees it.
struct WindowCandidate {
    WindowId id = 0;
    std::string name;     // the window's accessible name (its title)
    std::string appName;  // its application's accessible name
    bool active = false;  // AT-SPI says it is active
};

// The accessibility window that is the compositor's toplevel with `title` and `appId`: the one
// with that title (the active one first when several share it); without a title match, the
// active window of the application whose name equals the app id ignoring case. nullopt when
// none fits.
std::optional<WindowId> matchToplevel(std::string_view title, std::string_view appId,
                                      std::span<const WindowCandidate> windows);

}  // namespace tavik::desktop::wayland
