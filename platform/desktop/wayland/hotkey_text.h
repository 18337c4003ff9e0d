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
std::string takenKeyAdvice(std::string_view program, uint32_t keysym, uint32_t modifiers, std::string_view desktop);

}  // namespace tavik::desktop::wayland
