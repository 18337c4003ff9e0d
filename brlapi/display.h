// The seam between the server and the device: what the server shows and where
// the device's keys come from. The client-library link answers it on a real
// port; tests answer it with a fake.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "brlapi/keymap.h"
#include "brlapi/options.h"

namespace tavik::brl {

struct Equipment {
    std::string name;
    int textCells = 0, width = 0, height = 0;
};

class Display {
public:
    virtual ~Display() = default;
    virtual const Equipment& equipment() const = 0;
    // A descriptor that polls readable while keys wait (-1: no keys ever).
    virtual int keyFd() const = 0;
    // The keys pressed since the last call, oldest first. Does not block.
    virtual std::vector<DeviceKey> takeKeys() = 0;
    // The text line, one byte a cell in the device's dot order; fails
    // (false) when the device could not be written; never blocks for long.
    virtual bool showText(std::span<const uint8_t> cells) = 0;
    // One banded dot plane of width x ceil(height / 8) bytes (byte b * width + x
    // holds column x of pin rows 8b..8b+7, bit k = row 8b + k).
    virtual bool showPins(std::span<const uint8_t> plane) = 0;
    // Keeps the part of the display the braille goes to (and its keys) whatever
    // window is in front; Hidden keeps only the switch chord.
    virtual void claim(Destination where) = 0;
};

}  // namespace tavik::brl
