// The QApplication for a question, and the check that a display is there
// before Qt tries to connect to it (Qt aborts the process when it cannot).
#include "client/selection/ui/app_scope.h"

#include <QThread>

#include <cstdlib>

#ifdef TAVIK_UI_HAVE_X11
#include <X11/Xlib.h>
#endif

namespace tavik::selection::ui {

namespace {

int gArgc = 1;
char gName[] = "tavikutil";
char* gArgv[] = {gName, nullptr};

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

bool displayReachable() {
    if (envSet("QT_QPA_PLATFORM") || envSet("WAYLAND_DISPLAY")) return true;
    if (!envSet("DISPLAY")) return false;
#ifdef TAVIK_UI_HAVE_X11
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    XCloseDisplay(d);
#endif
    return true;
}

}  // namespace

AppScope::AppScope() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        usable_ = qobject_cast<QApplication*>(app) != nullptr && app->thread() == QThread::currentThread();
        return;
    }
    if (!displayReachable()) return;
    own_.emplace(gArgc, gArgv);
    usable_ = true;
}

bool AppScope::invisible() const {
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

}  // namespace tavik::selection::ui
