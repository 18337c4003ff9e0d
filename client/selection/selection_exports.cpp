// The exported port detection and selection calls: gdUsbPortDetection,
// gdStartSelection, gdSelectFTConnection, gdSelectFTConnectionEx.
#include <cstring>

#include "client/library_state.h"
#include "client/port_selection.h"
#include "client/selection/ftdi_selection.h"
#include "client/selection/selection_ui.h"
#include "client/selection/usb_detection.h"
#include "client/tavikutil.h"
#include "common/settings.h"

using namespace tavik;
using namespace tavik::selection;

TAVIK_API int gdUsbPortDetection(TavikWindow owner, int* portIndex) {
    const DetectionContext context{SysfsRoots{}, TavikIniPath(), UiLanguage()};
    return usbPortDetection(systemUi(), context, owner, portIndex);
}

TAVIK_API int gdStartSelection(GdStatusCallback statusCallback, TavikWindow owner) {
    return client::startSelection(statusCallback, owner);
}

TAVIK_API int gdSelectFTConnection(const char** modelName, int* portIndex) {
    client::Library& lib = client::library();
    auto link = systemFtdiLink();
    const int32_t port = selectFtConnection(link.get(), lib.connectionInfo ? &lib.connectionInfo->map() : nullptr);
    if (port < 0) return 0;
    if (modelName) *modelName = ftdiModelName();
    if (portIndex) *portIndex = port;
    return 1;
}

TAVIK_API int gdSelectFTConnectionEx(const char** modelName, int* portIndex, int* connected) {
    for (int port = kLastPortIndex; port >= 0; --port) {
        const char* name = nullptr;
        if (gdQueryEquipment(port, &name, nullptr, nullptr, nullptr) == 1 && name &&
            std::strcmp(name, ftdiModelName()) == 0) {
            if (modelName) *modelName = ftdiModelName();
            if (portIndex) *portIndex = port;
            if (connected) *connected = 1;
            return 1;
        }
    }
    if (gdSelectFTConnection(modelName, portIndex) != 1) return 0;
    if (connected) *connected = 0;
    return 1;
}
