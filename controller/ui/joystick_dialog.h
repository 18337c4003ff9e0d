// The joystick dialog: use the joystick, its channel, the poll speed and the
// action of each of the ten buttons. Control ids as object names: 299 (use),
// 300 (channel), 301 (speed), 289..298 (button actions), 302 (connect,
// disconnect, update), 1 (OK), 2 (Cancel).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>

#include <array>
#include <functional>
#include <string>

#include "controller/joystick/joystick_poll.h"
#include "controller/ui/texts.h"

namespace tavik::controller::ui {

class JoystickDialog final : public QDialog {
    Q_OBJECT
public:
    // `active`: whether joystick input is on now. `apply`: stops input, makes
    // the settings current and starts input again when they say so.
    JoystickDialog(const Texts& texts, std::string iniPath, std::function<bool()> active,
                   std::function<void(const JoystickSettings&)> apply, QWidget* parent = nullptr);

    void accept() override;
    // Button 302: store and apply without closing.
    void applyNow();
    // While the dialog is open the joystick moves the focus: 0 the speed
    // list, 1..10 the list of that button.
    void focusFor(int target);

private:
    JoystickSettings chosen() const;
    void updateButtonLabel();

    const Texts& texts_;
    std::string iniPath_;
    std::function<bool()> active_;
    std::function<void(const JoystickSettings&)> apply_;
    QCheckBox* use_ = nullptr;
    QComboBox* channel_ = nullptr;
    QComboBox* speed_ = nullptr;
    std::array<QComboBox*, kJoystickButtons> actions_{};
    QPushButton* connect_ = nullptr;
};

}  // namespace tavik::controller::ui
