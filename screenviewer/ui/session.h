// The viewer's session around the main dialog: the hand-over message that a
// second start posts (the dialog comes to the front), the hot key Win+Alt+V, the
// end of the desktop session or of the display, and the shutdown sequence.
#pragma once

#include <QObject>

#include <memory>

#include "screenviewer/share_layout.h"
#include "screenviewer/viewer.h"

namespace lumo::ui {

class MainDialog;

// The registered message a second viewer posts to the main thread of the first.
inline constexpr const char* kShowMessageName = "Lumo show viewer";

class Session : public QObject {
    Q_OBJECT
public:
    Session(Viewer& viewer, HookData& hook);
    ~Session() override;
    // Publishes the dialog in the hook section (the running viewer), listens
    // for the hand-over message, registers the hot key, follows the session end.
    void attach(MainDialog& dialog);
    // Shutdown, once: stop the threads, clear the hook section's dialog
    // handle, leave the port. Also runs at exit() (a display that broke).
    void end();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumo::ui
