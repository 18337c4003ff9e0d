// The viewer's autostart entry: $XDG_CONFIG_HOME/autostart/Lumo.desktop
// (default ~/.config/autostart), made from the installed desktop entry so the
// desktop session starts the viewer at log-in. Plain file work, no Qt.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lumo::ui {

// Where the autostart entry lives; nullopt when neither XDG_CONFIG_HOME nor
// HOME gives an absolute folder.
std::optional<std::string> autostartPath();

// The installed entry "lumo.desktop": first in the installation the program
// is part of (<prefix>/lib/.../tavik/Lumo -> <prefix>/share/applications),
// then in $XDG_DATA_DIRS (default /usr/local/share:/usr/share). Only a file
// that no other user can have placed or changed counts (it and every folder
// above it belong to root or this user and are not writable by others, sticky
// folders aside). Empty when none.
std::string installedEntryPath(const std::string& programPath);

// The autostart text from an installed entry's text: the [Desktop Entry]
// group with autostart enabled and "Hidden" dropped; other groups (actions)
// are left out. An entry without a usable [Desktop Entry] group, or none at
// all (`entry` empty), gives a minimal entry that runs `programPath` (quoted,
// "%" and line breaks escaped).
std::string autostartEntry(const std::string& entry, const std::string& programPath);

// True when the autostart entry exists (the desktop will start the viewer).
bool autostartEnabled();
// Writes (whole, through a temporary file renamed over it) or removes the
// entry. False when the folder or file could not be made or removed; the
// state on disk is then what autostartEnabled() reports.
bool setAutostart(bool on, const std::string& programPath);

}  // namespace lumo::ui
