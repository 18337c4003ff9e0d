// The device rows of the connect dialog and what each row means for the
// viewer (model code, pin grid, text cells, zoom-out limit).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "screenviewer/navigation.h"

namespace lumo {

struct DeviceConfig {
    int modelCode = 1;  // 1 48 x 32, 2 note-taker, 3 64 x 48, 4 48 x 32 on the FTDI link
    Pins pins{32, 24};
    int32_t textCells = 0;
    int32_t maxCellPixels = 64;
    std::string modelName;
};

struct DeviceRow {
    const char* name;
    int code;
};

// The rows offered: with a Japanese interface the note-taker row as well.
std::vector<DeviceRow> deviceRows(bool japanese);
// What the OK button makes of the row with `code` (codes 2, 3 and 4 give those models, any other 1).
DeviceConfig configForCode(int code, const std::string& modelName);
// The FTDI link's device.
DeviceConfig usbConfig();
// Combo preselections from [Connection]: a port of 64 or more gives 0; a row out of range 0.
int preselectedPort(int32_t stored);
int preselectedRow(int32_t stored, std::size_t rowCount);

}  // namespace lumo
