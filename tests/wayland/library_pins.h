// The pins the image library gives for a cols x rows area of the screen at one pixel a pin, with
// the screen viewer's capture margins and a fresh record's condition: what the viewer's pins must
// show for the same pixels. Rows of '#' (raised) and '.'.
#pragma once

#include <string>
#include <vector>

namespace wayland_test {

// Empty when the library captured nothing.
std::vector<std::string> libraryPins(int left, int top, int cols, int rows);
// True when `rows` hold both raised and lowered pins.
bool mixedPins(const std::vector<std::string>& rows);

}  // namespace wayland_test
