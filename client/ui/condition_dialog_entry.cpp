// The dialog library's one export: shows the condition dialog for the client
// library, in the application's Qt event loop or in one of its own. Qt aborts
// a process whose display it cannot reach, so the display is checked first.
#include <QApplication>
#include <QThread>
#include <QWidget>

#include <memory>

#include "client/ui/condition_dialog_services.h"
#include "client/ui/condition_dialog_window.h"
#include "common/export.h"
#include "platform/desktop/display_check.h"

namespace {

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
        const tavik::desktop::DisplayHold hold = tavik::desktop::holdGuiDisplay();  // until Qt has connected
        if (!hold) return 0;
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
