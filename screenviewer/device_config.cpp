// Device rows and the pin grid each one gives.
#include "screenviewer/device_config.h"

#include "common/model_traits.h"

namespace lumo {

// The serial models of the built-in rows; a row's code is its place among them all (the
// note-taker's row keeps its code when it is not offered).
std::vector<DeviceRow> deviceRows(bool japanese) {
    std::vector<DeviceRow> rows;
    int code = 0;
    for (const tavik::Model model : tavik::builtInRowOrder()) {
        const tavik::ModelTraits& t = tavik::traitsOf(model);
        if (t.ftdi) continue;
        if (!t.japaneseOnly || japanese) rows.push_back({t.name.data(), code});
        ++code;
    }
    return rows;
}

DeviceConfig configForCode(int code, const std::string& modelName) {
    DeviceConfig c;
    c.modelName = modelName;
    // Row code 3 is the large display; every other code is viewed through 48 x 32 panels. The
    // note-taker's row (2) keeps its own model: its key handler, no start-up command, no tones.
    const tavik::ModelTraits& t = tavik::traitsOf(code == 3 ? tavik::Model::QX64X48 : tavik::Model::PinoraPX2);
    c.modelCode = code == 2 || code == 3 || code == 4 ? code : 1;
    c.pins = {t.pinsX, t.pinsY};
    c.textCells = t.textCells;
    c.maxCellPixels = code == 3 ? 32 : 64;
    return c;
}

DeviceConfig usbConfig() { return configForCode(4, std::string(tavik::ftdiModel().name)); }

int preselectedPort(int32_t stored) { return stored >= 0 && stored < 64 ? stored : 0; }

int preselectedRow(int32_t stored, std::size_t rowCount) {
    return stored >= 0 && static_cast<std::size_t>(stored) < rowCount ? stored : 0;
}

}  // namespace lumo
