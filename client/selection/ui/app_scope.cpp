// The QApplication for a question, and the check that a display is there
// before Qt tries to connect to it (Qt aborts the process when it cannot).
#include "client/selection/ui/app_scope.h"

#include <QThread>

#include "platform/desktop/display_check.h"

namespace tavik::selection::ui {

namespace {

int gArgc = 1;
char gName[] = "tavikutil";
char* gArgv[] = {gName, nullptr};

}  // namespace

AppScope::AppScope() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        usable_ = qobject_cast<QApplication*>(app) != nullptr && app->thread() == QThread::currentThread();
        return;
    }
    const desktop::DisplayHold hold = desktop::holdGuiDisplay();  // until Qt has connected
    if (!hold) return;
    own_.emplace(gArgc, gArgv);
    usable_ = true;
}

bool AppScope::invisible() const {
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

}  // namespace tavik::selection::ui
