// The device input's ports in the Qt program (see input_glue.h).
#include "screenviewer/ui/input_glue.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <chrono>
#include <future>

#include "screenviewer/save_screen_image.h"
#include "screenviewer/ui/main_dialog.h"

namespace lumo::ui {

namespace {

// How long a device event waits for the dialog thread to run its command.
constexpr auto kDialogWait = std::chrono::seconds(2);

// Runs `f` on the dialog's thread and waits for it (bounded: a dialog that
// is gone or busy ending never holds the device events up for long).
void runOnDialog(const QPointer<MainDialog>& dialog, std::function<void(MainDialog&)> f) {
    if (!dialog) return;
    if (QThread::currentThread() == dialog->thread()) {
        f(*dialog);
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    QMetaObject::invokeMethod(
        dialog.data(),
        [dialog, f = std::move(f), done] {
            if (dialog) f(*dialog);
            done->set_value();
        },
        Qt::QueuedConnection);
    future.wait_for(kDialogWait);
}

void postToDialog(const QPointer<MainDialog>& dialog, std::function<void(MainDialog&)> f) {
    if (!dialog) return;
    QMetaObject::invokeMethod(
        dialog.data(), [dialog, f = std::move(f)] { if (dialog) f(*dialog); }, Qt::QueuedConnection);
}

}  // namespace

std::unique_ptr<KeyHandler> makeInput(Viewer& viewer, MainDialog& dialog, bool japanese, int portIndex,
                                      const std::string& modelName) {
    const QPointer<MainDialog> d(&dialog);
    InputPorts ports = clientLibraryPorts();
    ports.dialogCommand = [d](int id) { runOnDialog(d, [id](MainDialog& m) { m.runCommand(id); }); };
    ports.emulationBox = [d](bool on) { postToDialog(d, [on](MainDialog& m) { m.showEmulation(on); }); };
    ports.mouseText = [d](const std::string& text) {
        const QString t = QString::fromStdString(text);
        postToDialog(d, [t](MainDialog& m) { m.showMouseText(t); });
    };
    auto handler = std::make_unique<KeyHandler>(viewer, std::move(ports), japanese);
    KeyHandler* h = handler.get();
    // Needs the handler for the stored conditions: set once it exists.
    ScreenImageRequest base;
    base.japanese = japanese;
    base.portIndex = portIndex;
    base.modelName = modelName;
    h->setSaveScreenImage([&viewer, h, base](bool whole) {
        ScreenImageRequest q = base;
        q.whole = whole;
        q.conditions = h->conditions();
        saveScreenImage(viewer, q);
    });
    dialog.attachInput(*h);
    h->activate();
    return handler;
}

}  // namespace lumo::ui
