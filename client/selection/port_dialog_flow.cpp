// Filling the port selection dialog from the device table and storing the
// user's choice.
#include "client/selection/port_dialog_flow.h"

#include "client/selection/com_ports.h"
#include "client/selection/texts.h"
#include "common/settings.h"

namespace tavik::selection {

namespace {

std::string pick(const texts::Pair& p, uint16_t language) { return isJapanese(language) ? p.japanese : p.english; }

}  // namespace

PortDialogRequest portDialogRequest(const client::DeviceTable& table, uint16_t language, unsigned long owner) {
    PortDialogRequest r;
    r.title = pick(texts::kCaption, language);
    r.portLabel = pick(texts::kPortLabel, language);
    r.deviceLabel = pick(texts::kDeviceLabel, language);
    r.okText = pick(texts::kOk, language);
    r.cancelText = pick(texts::kCancel, language);
    for (int32_t i = 0; i < kSerialPortCount; ++i) r.ports.push_back(comName(i));
    for (const client::DeviceRow& row : table.rows) {
        if (row.usbDirect == 1) break;
        r.devices.push_back(row.name);
    }
    r.selectedPort = table.selectedPort;
    // A selected model that is not offered (the FTDI model) is not shown as
    // an empty choice: the first offered model is shown selected instead.
    r.selectedDevice = table.selectedDevice < static_cast<int32_t>(r.devices.size()) ? table.selectedDevice : 0;
    r.owner = owner;
    return r;
}

bool runPortSelectionDialog(SelectionUi& ui, client::DeviceTable& table, const std::string& iniPath,
                            uint16_t language, unsigned long owner) {
    client::loadDeviceTable(table, iniPath, language);
    PortDialogRequest r = portDialogRequest(table, language, owner);
    const int offered = static_cast<int>(r.devices.size());
    if (!ui.portDialog(r)) return false;
    // The dialog leaves an index unchanged when its list had no selection.
    if (r.selectedPort >= 0 && r.selectedPort < kSerialPortCount) table.selectedPort = r.selectedPort;
    if (r.selectedDevice >= 0 && r.selectedDevice < offered) table.selectedDevice = r.selectedDevice;
    // A model that is not offered (the FTDI model, chosen by an earlier
    // selection of another kind) cannot be what the user confirmed on a serial
    // port: the first offered model is taken instead.
    if (table.selectedDevice >= offered) {
        if (offered == 0) return false;
        table.selectedDevice = 0;
    }
    // A settings file that cannot be written loses only the default of the
    // next dialog; the choice itself stands.
    WriteProfileInt("connection", "port", table.selectedPort, iniPath);
    WriteProfileInt("connection", "device", table.selectedDevice, iniPath);
    return true;
}

}  // namespace tavik::selection
