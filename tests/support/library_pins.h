// The pins the image library makes of a window, for the end-to-end tests of
// the screen viewer that compare what the device shows with them.
#pragma once

#include <string>
#include <vector>

#include "imaging/lumoutil.h"

namespace tavik::test {

// A panel as rows of '#' (raised) and '.', the way padsim's state shows pins.
std::vector<std::string> panelRows(const DotPanel& panel, int cols, int rows);
// The pins of a cols x rows view of `window` at (bx, by) with `cell` pixels a
// pin, with the viewer's capture margins and a fresh record's condition;
// empty when the window cannot be captured. Window 0 is the whole screen
// (bx, by then in screen pixels), as on Wayland where the library captures the screen.
std::vector<std::string> libraryPins(LumoHWND window, int bx, int by, int cell, int cols = 64, int rows = 48);
// True when the rows hold both raised and lowered pins (a picture that can
// tell one view from another).
bool mixed(const std::vector<std::string>& rows);

}  // namespace tavik::test
