// What the viewer needs from the display: the port's sizes and model, the
// two-plane graphic and text writes, and the chime command. The library's
// own implementation writes through the gd calls; tests use a recording fake.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tavik::viewer {

struct PortInfo {
    std::string deviceName;
    int W = 0;  // dots across
    int H = 0;  // dots down
    int T = 0;  // text cells (0: none)
};

class DisplaySink {
public:
    virtual ~DisplaySink() = default;
    // Banded planes of W x ceil(H / 8) bytes. Plane 1 alone clears the second plane
    // on the device; plane 2 alone keeps the first. False when the write failed.
    virtual bool sendGraphic(const uint8_t* plane1, const uint8_t* plane2, int level) = 0;
    // T display text cell bytes.
    virtual bool sendText(std::span<const uint8_t> cells) = 0;
    // Device command 0xE6 with parameter 4 and the 24 bytes of a chime table,
    // sent under the port's direct-operation right. Blocks until the device took it.
    virtual void sendChime(std::span<const uint8_t, 24> table) = 0;
};

}  // namespace tavik::viewer
