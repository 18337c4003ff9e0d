// Which input device the pen SDK stand-in takes for a pen: absolute X and Y
// alone also describe touchpads, touchscreens and gamepads, so a pen needs a
// pen tool (BTN_TOOL_PEN) or a stylus button besides.
#pragma once

namespace skrivo {

struct InputCapabilities {
    bool absX = false, absY = false;
    bool toolPen = false;  // BTN_TOOL_PEN
    bool stylus = false;   // BTN_STYLUS or BTN_STYLUS2
};

constexpr bool isPenDevice(const InputCapabilities& c) { return c.absX && c.absY && (c.toolPen || c.stylus); }

// Between two looks for a pen that went away (unplugged) or is not there yet.
constexpr int kPenRescanMs = 500;

}  // namespace skrivo
