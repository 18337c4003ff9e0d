// The dialog library's one export: shows the condition dialog for the client
// library, in the application's Qt event loop or in one of its own. Qt aborts
// a process whose display it cannot reach, so the display is checked first.
#include <QApplication>
#include <QThread>
#include <QWidget>

#include <cstdlib>
#include <memory>

#ifdef TAVIK_UI_HAVE_X11
#include <X11/Xlib.h>
#endif

#include "client/ui/condition_dialog_services.h"
#include "client/ui/condition_dialog_window.h"
#include "common/export.h"

namespace {

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// True when Qt can start a GUI here without aborting: a platform chosen by the
// environment (offscreen in tests), a Wayland session, or an X display that opens.
bool displayReachable() {
    if (envSet("QT_QPA_PLATFORM") || envSet("WAYLAND_DISPLAY")) return true;
    if (!envSet("DISPLAY")) return false;
#ifdef TAVIK_UI_HAVE_X11
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    XCloseDisplay(d);
    return true;
#else
    return false;  // no way to check: never risk the caller
#endif
}

// The application's top-level window with X11 id `owner`, if it is one of ours.
QWidget* ownerWidget(TavikWindow owner) {
    if (!owner) return nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->internalWinId() == static_cast<WId>(owner)) return w;
    return nullptr;
}

}  // namespace

TAVIK_API int tavikUiShowConditionDialog(TavikWindow owner, const ConditionDialogServices* services) {
    if (!services) return 0;
    // An application without Qt gets a Qt of its own for the dialog, when a display can be reached.
    static std::unique_ptr<QApplication> ownApp;
    if (!QCoreApplication::instance()) {
        if (!displayReachable()) return 0;
        static int argc = 1;
        static char name[] = "tavikutil";
        static char* argv[] = {name, nullptr};
        ownApp = std::make_unique<QApplication>(argc, argv);
    }
    // Widgets only on the thread of a GUI application.
    QCoreApplication* app = QCoreApplication::instance();
    if (!qobject_cast<QApplication*>(app) || app->thread() != QThread::currentThread()) return 0;
    tavik::ui::ConditionDialog dialog(*services, ownerWidget(owner));
    dialog.run();
    return 1;
}
