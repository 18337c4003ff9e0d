// The viewer's main dialog 256: display range (257, 258), viewing modes
// (264..267), mouse emulation (272) and its position text (273), refresh rate
// (268..271), Hide (282) and Exit (281), the system menu (View Frame, the
// Function Filter popup, autostart, Close) and the 100 ms timer of the view
// pipeline. Control ids and command ids are the widgets' and actions' object
// names; every control carries a name a screen reader speaks.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

#include "screenviewer/settings/lumo_settings.h"
#include "screenviewer/viewer.h"

class QAbstractButton;
class QTimer;

namespace lumo {
class KeyHandler;
}

namespace lumo::ui {

// When the settings are saved: "Exit" (and the end of the desktop session)
// or the close box / system Close (also "ViewFrame").
enum class SaveMoment { Exit, Close, EndSession };

class MainDialog : public QDialog {
    Q_OBJECT
public:
    // `startCommand` is the device start-up command, sent at the fifth tick.
    MainDialog(Viewer& viewer, bool japanese, std::string lumoIni, std::function<void()> startCommand,
               QWidget* parent = nullptr);
    // Brings the dialog back and to the front (hot key, a second start).
    void bringForward();
    // Saves the settings as `when` asks (Lumo.ini: [Browse], the filters, the conditions).
    void saveSettings(SaveMoment when = SaveMoment::Exit);
    // The end of the desktop session (or of the display, or a termination
    // signal): saves as at Exit, stops the timer and ends the dialog with 1.
    void endSession();
    // Saves as at the end of the session unless the dialog has ended: the
    // process is ending without it (its display went away first).
    void saveUnlessEnded();
    // The autostart item's program (the running executable by default).
    void setProgramPath(std::string path) { programPath_ = std::move(path); }
    // The device input: the filters and conditions read at start go to it,
    // the dialog's commands and menu act through it. (dialog_commands.cpp)
    void attachInput(KeyHandler& keys);
    // One WM_COMMAND id (the internal commands of the device keys, the
    // controls' commands) or system command 527, 529..535, kSysClose; runs on
    // the dialog's thread.
    void runCommand(int id);
    // Check box 272 and text 273 follow the emulation (dialog thread).
    void showEmulation(bool on);
    void showMouseText(const QString& text);
    void setHotKeyTitle(bool hotKey);
    // Makes the boxes follow the viewer's modes and the current record.
    void syncBoxes();

    // The system menu's Close (the close box's command).
    static constexpr int kSysClose = 0xF060;

protected:
    // The close box and system Close: save everything, stop the timer, end with 0.
    void closeEvent(QCloseEvent* e) override;
    // Enter (outside a push button) is command 1; Escape does nothing.
    void keyPressEvent(QKeyEvent* e) override;
    void reject() override {}

private:
    QAbstractButton* button(int id) const;
    void loadSettings();
    void toggleAutostart();
    void finish(SaveMoment when, int result);
    std::string programPath_;
    bool finished_ = false;
    Viewer& viewer_;
    bool japanese_;
    std::string ini_;
    std::function<void()> startCommand_;
    QTimer* timer_ = nullptr;
    KeyHandler* keys_ = nullptr;
    tavik::lumo::LumoIni store_;
    tavik::lumo::LumoState state_;
    bool locked_ = false;  // the menu's view of the key lock when no input is attached
};

}  // namespace lumo::ui
