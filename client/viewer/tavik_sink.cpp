// Display output of the viewer through the gd calls (see tavik_sink.h).
#include "client/viewer/tavik_sink.h"

#include <cstring>

#include "client/library_state.h"
#include "client/tavikutil.h"

namespace tavik::viewer {

bool TavikSink::sendGraphic(const uint8_t* plane1, const uint8_t* plane2, int level) {
    return gdDisplayGraphicData(plane1, plane2, level) == 1;
}

bool TavikSink::sendText(std::span<const uint8_t> cells) { return gdDisplayTextData(cells.data()) == 1; }

void TavikSink::sendChime(std::span<const uint8_t, 24> table) {
    if (!gdStartDirectOperation(nullptr)) return;  // another application holds the right
    gdPostDirectCommand(0xE6, 4, static_cast<int>(table.size()), table.data());
    gdEndDirectOperation();
}

std::optional<PortInfo> enteredPortInfo() {
    auto& lib = tavik::client::library();
    if (!lib.entered()) return std::nullopt;
    const PortDataMap& m = lib.map();
    PortInfo info;
    info.deviceName.assign(m.deviceName, strnlen(m.deviceName, sizeof m.deviceName));
    info.W = m.graphicWidth;
    info.H = m.graphicHeight;
    info.T = m.textCells;
    return info;
}

}  // namespace tavik::viewer
