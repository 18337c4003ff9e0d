// The viewer's main dialog 256 (minimal): display range (257, 258), viewing
// modes (264..267), refresh rate (268..271), Hide (282) and Exit (281), the
// 100 ms timer of the view pipeline. Control ids are the widgets' object names.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

#include "screenviewer/viewer.h"

class QAbstractButton;
class QTimer;

namespace lumo::ui {

class MainDialog : public QDialog {
    Q_OBJECT
public:
    // `startCommand` is the device start-up command, sent at the fifth tick.
    MainDialog(Viewer& viewer, bool japanese, std::string lumoIni, std::function<void()> startCommand,
               QWidget* parent = nullptr);
    // Brings the dialog back and to the front (hot key, a second start).
    void bringForward();
    // Saves [Browse] ScanningMode, MouseSync, Refresh.
    void saveSettings();
    void setHotKeyTitle(bool hotKey);
    // Makes the boxes follow the viewer's modes and the current record.
    void syncBoxes();

protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;

private:
    QAbstractButton* button(int id) const;
    Viewer& viewer_;
    bool japanese_;
    std::string ini_;
    std::function<void()> startCommand_;
    QTimer* timer_ = nullptr;
};

}  // namespace lumo::ui
