// The controller's main window: the status line, Connect/Disconnect, Set up,
// Hide and Monitor, closing with confirmation. Control ids are the widgets'
// object names ("257", "1", "258", "259", "260").
#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <functional>

#include "controller/controller_window.h"
#include "controller/ui/joystick_dialog.h"
#include "controller/ui/monitor_host.h"
#include "controller/ui/options_dialog.h"
#include "controller/ui/pen_dialog.h"
#include "controller/ui/texts.h"

namespace tavik::controller {
class Controller;
}

namespace tavik::controller::ui {

class MainWindow final : public QWidget, public ControllerWindow {
    Q_OBJECT
public:
    MainWindow(const Texts& texts, const std::string& iniPath);
    ~MainWindow() override;

    // The controller the buttons act on (set once, before the loop runs).
    void attach(Controller& controller) { controller_ = &controller; }

    // ---- ControllerWindow (main thread, except setStatusText)
    void setStatusText(std::string_view utf8Line) override;
    void setConnectLabel(bool connected) override;
    void setHideButtonVisible(bool visible) override;
    void setTitle(std::string_view utf8Title) override;
    void showMinimizedNoActivate() override;
    void showNormal() override;
    void hide() override;
    const TavikMonitorHost* monitorHost() override { return monitor_.host(); }
    bool hotKeyRegistered() const override { return hotKey_; }
    // Whether WIN+G was grabbed for this window (set before the port opens:
    // the title tells it).
    void setHotKeyRegistered(bool registered) { hotKey_ = registered; }

    // The question asked before the user closes the program: returns the
    // QMessageBox button pressed. Tests replace it.
    void setConfirm(std::function<int()> confirm) { confirm_ = std::move(confirm); }
    // The options dialog while it is open (tests).
    OptionsDialog* optionsDialog() const { return options_; }
    MonitorHost& monitor() { return monitor_; }
    // Whether the pen library loaded ("Pen Input ..." of the options).
    void setPenAvailable(bool available) { penAvailable_ = available; }
    // What the joystick dialog acts on: whether input is on, and applying
    // new settings (stop, then start when they say so).
    void setJoystickHooks(std::function<bool()> active, std::function<void(const JoystickSettings&)> apply) {
        joystickActive_ = std::move(active);
        joystickApply_ = std::move(apply);
    }
    void openJoystickDialog();
    // The pen input the pen dialog acts on, and the display's dot matrix.
    void setPenHooks(PenInput* pen, std::function<std::pair<int, int>()> matrix) {
        pen_ = pen;
        penMatrix_ = std::move(matrix);
    }
    void openPenDialog();
    PenDialog* penDialog() const { return penDialog_; }
    // The joystick dialog while it is open, else null.
    JoystickDialog* joystickDialog() const { return joystick_; }

    // The buttons' actions.
    void connectClicked();
    void setupClicked();
    void hideClicked();
    void monitorClicked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPushButton* button(int id, const char* textKey);

    const Texts& texts_;
    std::string iniPath_;
    Controller* controller_ = nullptr;
    MonitorHost monitor_;
    QLabel* status_ = nullptr;
    QPushButton* connect_ = nullptr;
    QPushButton* hide_ = nullptr;
    QPointer<OptionsDialog> options_;
    std::function<int()> confirm_;
    bool penAvailable_ = false;
    bool hotKey_ = false;
    std::function<bool()> joystickActive_;
    std::function<void(const JoystickSettings&)> joystickApply_;
    QPointer<JoystickDialog> joystick_;
    PenInput* pen_ = nullptr;
    std::function<std::pair<int, int>()> penMatrix_;
    QPointer<PenDialog> penDialog_;
};

}  // namespace tavik::controller::ui
