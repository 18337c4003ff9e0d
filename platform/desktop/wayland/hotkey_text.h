// Hot keys as text: the trigger a global-shortcut portal is offered, the key as a person reads
// it, and the one line that tells how to bind the program's --show command by hand where the
// desktop has no such portal. Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavik::desktop::wayland {

// The key's name: letters (lower case) and digits, F1..F12. nullopt for other keysyms.
std::optional<std::string> keyName(uint32_t keysym);

// The portal's trigger form, modifiers first: "LOGO+v", "CTRL+ALT+F5". nullopt when the key has
// no name here.
std::optional<std::string> portalTrigger(uint32_t keysym, uint32_t modifiers);

// The form people read: "Super+V", "Ctrl+Alt+F5" ("" when the key has no name here).
std::string readableKey(uint32_t keysym, uint32_t modifiers);

// The line for a desktop without the global-shortcut portal, naming the program's command
// ("<program> --show") and the key to bind it to.
std::string bindAdvice(std::string_view program, uint32_t keysym, uint32_t modifiers);

// The line for a key the desktop would not give (another program holds it): names the key and
// where this desktop (`desktop`: $XDG_CURRENT_DESKTOP, e.g. "KDE", "GNOME", "ubuntu:GNOME") lets
// the user give the program another key or bind "<program> --show" to one.
// The key as Qt codes it (what KDE's kglobalaccel lists keys by): the key's code (upper-case
// letters, digits, Qt's F1..F12) with Qt's modifier bits. nullopt for keys without a name here.
std::optional<int32_t> qtKeyCode(uint32_t keysym, uint32_t modifiers);

// A portal session token made from the program's name: its letters, digits and "_" (others
// dropped), "tavik" when none are left. KDE Plasma lists a session's keys under this name in its
// shortcut settings and keeps the user's changes to them under it.
std::string portalSessionToken(std::string_view program);

std::string takenKeyAdvice(std::string_view program, uint32_t keysym, uint32_t modifiers, std::string_view desktop);

}  // namespace tavik::desktop::wayland
