// The connect dialog 288 "Lumo, Connecting To:": the port (289), the device
// row (291) and "USB detection" (290). Control ids are the widgets' object
// names. TAVIK_UI_SCRIPT answers it with a line "connect|<port>|<row>|ok".
#pragma once

#include <QDialog>

#include <optional>
#include <string>

#include "screenviewer/device_config.h"

class QComboBox;

namespace lumo::ui {

struct Connection {
    int portIndex = 0;
    DeviceConfig device;
};

class ConnectDialog : public QDialog {
    Q_OBJECT
public:
    // `storedPort` and `storedRow` come from [Connection] "Port" and "Hardware".
    ConnectDialog(bool japanese, int storedPort, int storedRow, QWidget* parent = nullptr);
    // The choice after OK.
    Connection chosen() const;
    int portItem() const;
    int rowItem() const;

private:
    void detectUsb();
    std::vector<DeviceRow> rows_;
    QComboBox* ports_ = nullptr;
    QComboBox* devices_ = nullptr;
};

// Shows the dialog (or takes the scripted answer), writes [Connection] back
// on OK. nullopt after Cancel.
std::optional<Connection> askConnection(bool japanese, const std::string& lumoIni);

}  // namespace lumo::ui
