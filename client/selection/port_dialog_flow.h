// The "Port selection" dialog as gdStartSelection runs it: the lists it
// offers and what OK stores.
#pragma once

#include <cstdint>
#include <string>

#include "client/device_table.h"
#include "client/selection/selection_ui.h"

namespace tavik::selection {

// The request for `table` (already loaded): "Com1" ... "Com64" with the
// table's selected port; the device names in table order up to the first
// usbDirect row (the FTDI model is never offered), with the selected device
// (the first one when the selected model is not among those offered).
PortDialogRequest portDialogRequest(const client::DeviceTable& table, uint16_t language, unsigned long owner);

// Loads the device table, shows the dialog and, after OK, takes the chosen
// port and device into the table and writes them to `iniPath` section
// "connection" keys "port" and "device" (a failed write keeps the choice).
// False after Cancel, when the dialog cannot be shown or no model is offered.
bool runPortSelectionDialog(SelectionUi& ui, client::DeviceTable& table, const std::string& iniPath,
                            uint16_t language, unsigned long owner);

}  // namespace tavik::selection
