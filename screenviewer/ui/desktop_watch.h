// The main dialog on the desktop: the hot key Win+Alt+V (a key grab on the root
// window through the desktop layer) brings the dialog to the front, a new
// screen size refreshes the view, a lost X display ends the dialog as the end
// of the session does.
#pragma once

#include <QObject>

#include <memory>

namespace tavik::desktop {
class DesktopEvents;
}

namespace lumo {
class Viewer;
}

namespace lumo::ui {

class MainDialog;

class DesktopWatch : public QObject {
    Q_OBJECT
public:
    // Grabs Win+Alt+V (one round trip) and sets the dialog's title and Hide
    // button by the result; events are handled on the dialog's thread.
    DesktopWatch(Viewer& viewer, MainDialog& dialog);
    // Releases the grab and the desktop layer's connection (no round trip).
    ~DesktopWatch() override;
    bool hotKeyRegistered() const { return hotKey_; }

private:
    Viewer& viewer_;
    MainDialog& dialog_;
    std::unique_ptr<tavik::desktop::DesktopEvents> events_;
    bool hotKey_ = false;
};

}  // namespace lumo::ui
