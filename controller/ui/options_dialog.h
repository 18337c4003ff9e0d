// The options dialog: port selection always, screen reader first, the window
// policy, the monitor window's size and keep-on-top. Control ids as object
// names: 276, 273, 275, 277, 278, 279 (joystick), 280 (pen), 1 (OK), 2 (Cancel).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>

#include <functional>
#include <string>

#include "common/data_maps.h"
#include "controller/options.h"
#include "controller/ui/texts.h"

namespace tavik::controller::ui {

class OptionsDialog final : public QDialog {
    Q_OBJECT
public:
    // `map`: the port data map when open (may be null). `penAvailable`
    // enables "Pen Input ...". `applied` receives the effect after OK.
    OptionsDialog(const Texts& texts, std::string iniPath, PortDataMap* map, bool penAvailable,
                  std::function<void(const OptionsEffect&)> applied, QWidget* parent = nullptr);

    void accept() override;
    // "Joystick ..." (279) opens the joystick dialog through `open`; without
    // it the button stays disabled.
    void setJoystickOpener(std::function<void()> open);
    // "Pen Input ..." (280) opens the pen dialog through `open`.
    void setPenOpener(std::function<void()> open) { openPen_ = std::move(open); }

private:
    std::string iniPath_;
    PortDataMap* map_;
    std::function<void(const OptionsEffect&)> applied_;
    QCheckBox* queryAlways_ = nullptr;
    QCheckBox* screenReader_ = nullptr;
    QComboBox* policy_ = nullptr;
    QComboBox* size_ = nullptr;
    QCheckBox* keepOnTop_ = nullptr;
    QPushButton* joystick_ = nullptr;
    std::function<void()> openJoystick_;
    std::function<void()> openPen_;
};

}  // namespace tavik::controller::ui
