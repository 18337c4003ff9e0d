// The dialog library's one export: shows the condition dialog for the client
// library, in the application's Qt event loop or in one of its own.
#include <QApplication>
#include <QWidget>

#include <cstdlib>
#include <memory>

#include "client/ui/condition_dialog_services.h"
#include "client/ui/condition_dialog_window.h"
#include "common/export.h"

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
    // An application without Qt gets a Qt of its own for the dialog, when a display exists.
    static std::unique_ptr<QApplication> ownApp;
    if (!QApplication::instance()) {
        const char* display = std::getenv("DISPLAY");
        const char* platform = std::getenv("QT_QPA_PLATFORM");
        if ((!display || !*display) && (!platform || !*platform)) return 0;
        static int argc = 1;
        static char name[] = "tavikutil";
        static char* argv[] = {name, nullptr};
        ownApp = std::make_unique<QApplication>(argc, argv);
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
    tavik::ui::ConditionDialog dialog(*services, ownerWidget(owner));
    dialog.run();
    return 1;
}
