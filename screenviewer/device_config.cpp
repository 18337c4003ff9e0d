// Device rows and the pin grid each one gives.
#include "screenviewer/device_config.h"

namespace lumo {

std::vector<DeviceRow> deviceRows(bool japanese) {
    if (japanese) return {{"Pinora PX-1", 0}, {"Pinora PX-2", 1}, {"Notaro", 2}, {"QX-64X48", 3}};
    return {{"Pinora PX-1", 0}, {"Pinora PX-2", 1}, {"QX-64X48", 3}};
}

DeviceConfig configForCode(int code, const std::string& modelName) {
    DeviceConfig c;
    c.modelName = modelName;
    if (code == 3) {
        c.modelCode = 3;
        c.pins = {64, 48};
        c.textCells = 32;
        c.maxCellPixels = 32;
    } else {
        c.modelCode = code == 4 ? 4 : 1;
        c.pins = {48, 32};
        c.textCells = 0;
        c.maxCellPixels = 64;
    }
    return c;
}

DeviceConfig usbConfig() { return configForCode(4, kUsbModelName); }

int preselectedPort(int32_t stored) { return stored >= 0 && stored < 64 ? stored : 0; }

int preselectedRow(int32_t stored, std::size_t rowCount) {
    return stored >= 0 && static_cast<std::size_t>(stored) < rowCount ? stored : 0;
}

}  // namespace lumo
