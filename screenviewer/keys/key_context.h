// The program state the key tables read, copied by the core into a plain
// struct before each event. Fields named as in the shared records use those
// names; the core fills them from the current ViewRecord (in overview the
// ViewScope fields too) and from its own state.
#pragma once

#include <array>
#include <cstdint>

#include "screenviewer/settings/lumo_settings.h"

namespace tavik::lumo {

// Key bits of group 4.
constexpr int kKeyUp = 0x01, kKeyDown = 0x02, kKeyRight = 0x04, kKeyLeft = 0x08;
constexpr int kKeyDecrease = 0x10, kKeyHome = 0x20, kKeyEnd = 0x40, kKeyIncrease = 0x80;
// Shift bits (modifier byte and broadcast byte 0).
constexpr int kShiftMulti = 0x10, kShiftCenter = 0x20, kShiftUp = 0x40, kShiftDown = 0x80;
// Stick bits of group 5.
constexpr int kStickRight = 0x02, kStickDown = 0x04, kStickUp = 0x08, kStickLeft = 0x10;

// Information pages.
constexpr int kPageHistogram = -1, kPageImage = 0, kPagePosition = 1, kPageRange = 2, kPageStep = 3;

// Device models.
constexpr int kModelDisplay48 = 1, kModelNoteTaker = 2, kModel64 = 3, kModelUsb48 = 4;

struct KeyContext {
    FunctionFilters filters;
    bool locked = false;          // operation lock
    bool recordExcluded = false;  // the current ViewRecord's flag bit 0
    int infoPage = kPageImage;
    int modelCode = kModelDisplay48;
    int pinColumns = 48;
    int pinRows = 32;
    int stepX = 24;
    int stepY = 16;
    int maxCellPixels = 64;

    // The current ViewRecord.
    int32_t baseX = 0, baseY = 0;
    int32_t cellWidth = 1, cellHeight = 1;
    int32_t scopeCellWidth = 1;   // meaningful in overview
    bool overview = false;
    bool viewScope = false;
    uint16_t bMode = BIN_LIGHT | BIN_DARK;  // the condition's mode bits
    bool fAutoThreshfold = true;
    std::array<bool, 3> bookmarkUsed{};
    bool clientRectValid = false;  // the focus window's client rectangle is known

    // Viewer state.
    int scanningMode = 2;
    bool mouseSync = false;
    bool mouseEmulation = false;
    bool penDrag = false;
    int32_t mouseX = 0, mouseY = 0;  // capture-window pixels
    bool cursorShape = false;
    std::array<bool, 4> conditionFilled{};  // fData of Condition1..4
    int textLinePage = 0;
    int subSelector = 0;

    // Mouse keys act while emulating with ViewScope off.
    bool emu() const { return mouseEmulation && !viewScope; }
    // Pixels per pin of what the zoom keys change.
    int32_t zoomCell() const { return overview ? scopeCellWidth : cellWidth; }
    bool tonesAllowed() const { return modelCode == kModelDisplay48 || modelCode == kModelUsb48; }
};

}  // namespace tavik::lumo
