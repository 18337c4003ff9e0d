// The port selection: the dialog (client/selection) chooses port and model,
// then the port is entered as gdStart enters it.
#include "client/port_selection.h"

#include "client/library_state.h"
#include "client/port_entry.h"
#include "client/selection/port_dialog_flow.h"
#include "common/settings.h"

namespace tavik::client {

int startSelection(GdStatusCallback statusCallback, TavikWindow owner) {
    Library& lib = library();
    if (lib.entrySlot != -1) return 1;
    if (!selection::runPortSelectionDialog(selection::systemUi(), lib.devices, TavikIniPath(), UiLanguage(), owner))
        return 0;
    const auto row = static_cast<std::size_t>(lib.devices.selectedDevice);
    if (row >= lib.devices.rows.size()) return 0;
    return openEntry(lib, lib.devices.selectedPort, lib.devices.rows[row], statusCallback);
}

}  // namespace tavik::client
