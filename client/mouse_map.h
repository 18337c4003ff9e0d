// The machine-wide mouse map "TAVIK MOUSE hook data": the pointer position
// last observed and the buttons a click or drag left pressed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/shared_section.h"

namespace tavik::client {

struct MouseMapData {
    int32_t refCount;  // ports whose controller holds the map; the library never changes it
    int32_t reserved4;
    uint8_t reserved8[8];
    int32_t moveCounter;
    uint8_t reserved20[16];
    int32_t lastCursorX;
    int32_t lastCursorY;
    int32_t heldButtons;  // bit 0 left, bit 1 right
};
static_assert(offsetof(MouseMapData, refCount) == 0);
static_assert(offsetof(MouseMapData, reserved8) == 8);
static_assert(offsetof(MouseMapData, moveCounter) == 16);
static_assert(offsetof(MouseMapData, lastCursorX) == 36);
static_assert(offsetof(MouseMapData, lastCursorY) == 40);
static_assert(offsetof(MouseMapData, heldButtons) == 44);
static_assert(sizeof(MouseMapData) == 48);

// The mapped mouse map, opened without taking a reference.
class MouseMap {
public:
    // Opens the live map or creates it zeroed; nullopt when neither works.
    static std::optional<MouseMap> open();
    MouseMapData& data() const { return *static_cast<MouseMapData*>(section_.data()); }

private:
    explicit MouseMap(platform::SharedSection s) : section_(std::move(s)) {}
    platform::SharedSection section_;
};

}  // namespace tavik::client
