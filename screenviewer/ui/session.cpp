// The session: hand-over listener, hot key, session and display end, shutdown.
#include "screenviewer/ui/session.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "client/tavikutil.h"
#include "platform/thread_queue.h"
#include "screenviewer/ui/main_dialog.h"
#ifdef LUMO_HAVE_DESKTOP_LAYER
#include "screenviewer/ui/desktop_watch.h"
#endif

namespace lumo::ui {

namespace {
// The session that exit() must still end (Qt ends the process when its display breaks).
std::atomic<Session*> gLiveSession{nullptr};
void endAtExit() {
    if (Session* s = gLiveSession.exchange(nullptr)) s->end();
}

// The toolkit's xcb platform says this just before it calls exit() on a broken display
// connection. exit() would run the destructors of objects the viewer's threads still use (the
// ones made after the session), so the session is ended here, while everything still stands,
// and the process ends without them.
QtMessageHandler gPreviousHandler = nullptr;
void onToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (gPreviousHandler) gPreviousHandler(type, context, text);
    else std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    if (text.startsWith(QLatin1String("The X11 connection broke")) && gLiveSession.load() != nullptr) {
        endAtExit();
        std::fflush(nullptr);
        std::_Exit(1);  // the status the toolkit's exit() gives
    }
}
}  // namespace

struct Session::Impl {
    Impl(Viewer& v, HookData& h) : viewer(v), hook(h) {}
    Viewer& viewer;
    HookData& hook;
    MainDialog* dialog = nullptr;
    std::optional<tavik::platform::ThreadQueue> queue;
    uint32_t showMessage = 0;
    bool ended = false;
#ifdef LUMO_HAVE_DESKTOP_LAYER
    std::unique_ptr<DesktopWatch> watch;
#endif
};

Session::Session(Viewer& viewer, HookData& hook) : impl_(std::make_unique<Impl>(viewer, hook)) {
    static std::once_flag registered;
    std::call_once(registered, [] {
        std::atexit(endAtExit);
        gPreviousHandler = qInstallMessageHandler(onToolkitMessage);
    });
    gLiveSession = this;
}

Session::~Session() {
    end();
    Session* self = this;
    gLiveSession.compare_exchange_strong(self, nullptr);
}

void Session::attach(MainDialog& dialog) {
    Impl& s = *impl_;
    s.dialog = &dialog;
    connect(&dialog, &QObject::destroyed, this, [this] { impl_->dialog = nullptr; });
    // The running viewer: its process first, then the dialog handle that says "running".
    s.hook.viewerProcess = tavik::platform::currentProcessId();
    const auto wid = static_cast<WindowId>(dialog.winId());
    s.hook.dialogWindow = wid ? wid : 1;
    s.viewer.setDialogWindow(s.hook.dialogWindow);
    s.showMessage = tavik::platform::registerMessage(kShowMessageName);
    s.queue = tavik::platform::ThreadQueue::createForCurrentThread();
    if (s.queue) {
        auto* n = new QSocketNotifier(s.queue->fd(), QSocketNotifier::Read, this);
        connect(n, &QSocketNotifier::activated, this, [this] {
            tavik::platform::ThreadMessage m;
            while (impl_->queue && impl_->queue->peek(m))
                if (m.message == impl_->showMessage && impl_->dialog) impl_->dialog->bringForward();
        });
    }
#ifdef LUMO_HAVE_DESKTOP_LAYER
    s.watch = std::make_unique<DesktopWatch>(s.viewer, dialog);
#endif
    // The end of the desktop session: save and end as on Exit.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
        if (impl_->dialog) impl_->dialog->endSession();
    });
}

void Session::end() {
    Impl& s = *impl_;
    if (s.ended) return;
    s.ended = true;
    // Qt ends the process at once when its own connection to the display breaks, before
    // the desktop layer reports the loss: what changed in the session is saved here then.
    if (s.dialog) s.dialog->saveUnlessEnded();
    // What has to be over before the port is left is a call of the viewer's threads into the
    // client library (the refresh pass's writes, the watch thread's look at the mouse): the
    // library's entry is not guarded against a call in progress. stopThreads() waits for
    // exactly that, within its bound, so nothing else is waited for here. A thread still late
    // after the bound keeps the entry: the viewer's destructor joins it and the library leaves
    // the port when the process ends.
    const bool stopped = s.viewer.stopThreads();
#ifdef LUMO_HAVE_DESKTOP_LAYER
    s.watch.reset();
#endif
    s.hook.dialogWindow = 0;
    s.hook.viewerProcess = 0;
    s.viewer.setDialogWindow(0);
    s.queue.reset();
    if (stopped) gdEnd();
    else std::fputs("Lumo: a viewer thread is late to end; the display is left when the program ends.\n", stderr);
}

}  // namespace lumo::ui
