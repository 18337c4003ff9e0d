// The windowed controller: the display check, QApplication, main window and the
// queue, signal and idle timers driving the controller core.
#include "controller/ui/windowed_run.h"

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <signal.h>
#include <sys/signalfd.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/settings.h"
#include "controller/controller.h"
#include "controller/driver_library.h"
#include "controller/joystick/joystick_input.h"
#include "controller/pen/pen_input.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/display_check.h"
#include "controller/ui/main_window.h"
#include "controller/ui/texts.h"

namespace tavik::controller::ui {

namespace {

// Qt ends the process with exit() when its display connection breaks. While
// the windowed loop runs, an exit handler then starts the program again in
// its place, headless, for the same port: the clients' map and slots live on
// and the controller keeps serving them. The port map's descriptor, which
// holds the port's claim, stays open across the exec and is passed on, so
// clients never see the port without its controller meanwhile.
struct HeadlessRestart {
    std::vector<std::string> args;
    std::function<int(bool)> keepClaim;  // Controller::keepClaimAcrossExec
    bool armed = false;
};
HeadlessRestart& headlessRestart() {
    static HeadlessRestart restart;
    return restart;
}
void restartHeadless() {
    HeadlessRestart& r = headlessRestart();
    if (!r.armed) return;
    r.armed = false;
    std::fputs("TAVIK: the display connection broke; continuing without a window\n", stderr);
    const int claimFd = r.keepClaim ? r.keepClaim(true) : -1;
    if (claimFd >= 0) r.args.push_back("--claim-fd=" + std::to_string(claimFd));
    std::vector<char*> argv;
    for (std::string& a : r.args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv("/proc/self/exe", argv.data());
    // Still here: the process ends after all, and its claim with it (clients
    // then start a new controller); no child started meanwhile may hold it.
    if (claimFd >= 0) r.keepClaim(false);
}

// The main window and, when open, the monitor window beside it.
bool saveScreenshot(MainWindow& window, const QString& path) {
    const QPixmap main = window.grab();
    MonitorWidget* monitor = window.monitor().window();
    const QPixmap pins = monitor && monitor->isVisible() ? monitor->grab() : QPixmap();
    constexpr int kGap = 16;
    QImage out(main.width() + (pins.isNull() ? 0 : kGap + pins.width()), std::max(main.height(), pins.height()),
               QImage::Format_RGB32);
    out.fill(QColor(0x40, 0x40, 0x40));
    QPainter painter(&out);
    painter.drawPixmap(0, 0, main);
    if (!pins.isNull()) painter.drawPixmap(main.width() + kGap, 0, pins);
    painter.end();
    return out.save(path, "PNG");
}

}  // namespace

desktop::DisplayHold displayUsable() { return desktop::holdGuiDisplay(); }

int runWindowed(int argc, char** argv, const MessageNumbers& messages, platform::ThreadQueue& queue, int signalFd,
                std::optional<int32_t> portIndex, int inheritedClaimFd, LoopTiming timing,
                desktop::DisplayHold displayHold) {
    QApplication app(argc, argv);
    displayHold = {};  // the toolkit's own connection is up: the server may reset no more
    app.setQuitOnLastWindowClosed(false);
    if (portIndex) {
        HeadlessRestart& restart = headlessRestart();
        restart.args = {argc > 0 && argv[0] ? argv[0] : "TAVIK", "/Remote", "/Port:" + std::to_string(*portIndex),
                        "--headless"};
        static const bool registered = std::atexit(restartHeadless) == 0;
        restart.armed = registered;
    }
    const Texts texts(isJapanese(UiLanguage()));
    MainWindow window(texts, TavikIniPath());
    window.showMinimizedNoActivate();
    Controller controller(window, messages, queue.threadId(), pluginFolder());
    window.attach(controller);
    if (inheritedClaimFd >= 0) controller.inheritClaim(inheritedClaimFd);
    if (portIndex)
        headlessRestart().keepClaim = [&controller](bool keep) { return controller.keepClaimAcrossExec(keep); };

    // WIN+G brings every controller to the front; a key another program
    // holds leaves the hot key to it (and the title without the suffix).
    constexpr int32_t kHotKeyId = 0;
    constexpr uint32_t kKeysymG = 0x67;
    desktop::DesktopEvents desktopEvents;
    window.setHotKeyRegistered(desktopEvents.addHotKey(kHotKeyId, kKeysymG, desktop::kModSuper) ==
                               desktop::DesktopStatus::Ok);
    QSocketNotifier hotKeyNotifier(desktopEvents.fd(), QSocketNotifier::Read);
    QObject::connect(&hotKeyNotifier, &QSocketNotifier::activated, &app, [&] {
        for (const desktop::DesktopEvent& e : desktopEvents.take()) {
            if (e.kind != desktop::DesktopEvent::Kind::HotKey || e.hotKeyId != kHotKeyId) continue;
            showRunningControllers(messages);
            window.showNormal();
        }
    });

    if (portIndex) controller.openPort(*portIndex);

    // Command messages: a bounded batch per wake, like the headless loop.
    QSocketNotifier queueNotifier(queue.fd(), QSocketNotifier::Read);
    bool ended = false;
    auto idle = [&](bool slow) {
        if (!ended && controller.idleCheck(slow)) {
            ended = true;
            app.exit(0);  // quit() would ask the windows to close first
        }
    };
    QObject::connect(&queueNotifier, &QSocketNotifier::activated, &app, [&] {
        platform::ThreadMessage msg;
        int taken = 0;
        while (taken < timing.maxBatch && queue.peek(msg)) {
            ++taken;
            if (msg.message == messages.command) controller.dispatchCommand(msg.wParam, msg.lParam);
        }
        idle(false);
    });
    std::optional<QSocketNotifier> signalNotifier;
    if (signalFd >= 0) {
        signalNotifier.emplace(signalFd, QSocketNotifier::Read);
        QObject::connect(&*signalNotifier, &QSocketNotifier::activated, &app, [&] {
            signalfd_siginfo info{};
            if (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                std::fprintf(stderr, "TAVIK: signal %u received, ending\n", info.ssi_signo);
                ended = true;
                app.exit(0);  // quit() would ask the windows to close first
            }
        });
    }
    // Joystick input when the settings ask for it; the joystick may come later.
    const auto msNow = [] {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    };
    JoystickInput joystick([&](uint32_t e) { controller.notifyKey(e); }, [&](uint32_t e) { controller.notifyAll(e); });
    QTimer joystickTimer;
    QObject::connect(&joystickTimer, &QTimer::timeout, &app, [&] {
        JoystickDialog* dialog = window.joystickDialog();
        joystick.tick(msNow(), dialog != nullptr);
        if (dialog && joystick.lastDialogFocus() >= 0) dialog->focusFor(joystick.lastDialogFocus());
        if (joystickTimer.interval() != joystick.dueMs()) joystickTimer.setInterval(joystick.dueMs());
    });
    window.setJoystickHooks([&] { return joystick.active() && joystick.present(); },
                            [&](const JoystickSettings& s) {
                                joystickTimer.stop();
                                joystick.stop(msNow());
                                if (!s.use) return;
                                joystick.start(s);
                                joystickTimer.start(joystick.dueMs());
                            });
    if (const JoystickSettings js = readJoystickSettings(TavikIniPath()); js.use) {
        joystick.start(js);
        joystickTimer.start(joystick.dueMs());
    }

    // Diagnostics: $TAVIK_SCREENSHOT names a PNG that receives, a few seconds
    // after start, the main window and the monitor window side by side.
    if (const char* shot = std::getenv("TAVIK_SCREENSHOT"); shot && *shot) {
        const QString path = QString::fromLocal8Bit(shot);
        QTimer::singleShot(3000, &window, [&window] {
            window.showNormal();
            window.monitorClicked();
        });
        QTimer::singleShot(5000, &window, [&window, path] {
            if (!saveScreenshot(window, path)) std::fputs("TAVIK: screenshot not written\n", stderr);
        });
    }

    // Pen input in the Japanese interface, when the pen library is there.
    PenInput pen([&](const PenEvent& e) { controller.notifyPen(e.code, e.x, e.y, e.flags); }, pluginFolder());
    QTimer penTimer;
    QObject::connect(&penTimer, &QTimer::timeout, &app, [&] { pen.drain(); });
    if (texts.japanese()) {
        const PenInput::Library lib = pen.load();
        if (lib == PenInput::Library::LinkError) {
            auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("test"), QStringLiteral("LinkError"),
                                        QMessageBox::Ok, &window);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->show();
        } else if (lib == PenInput::Library::Loaded) {
            const PenSettings ps = readPenSettings(TavikIniPath());
            pen.tracker().load(ps);
            if (ps.use) pen.start();
            penTimer.start(10);
        }
    }
    window.setPenAvailable(pen.library() == PenInput::Library::Loaded);
    window.setPenHooks(&pen, [&controller] {
        PortDataMap* m = controller.map();
        return m ? std::pair<int, int>{m->graphicWidth, m->graphicHeight} : std::pair<int, int>{0, 0};
    });

    QTimer idleTimer, slowTimer;
    QObject::connect(&idleTimer, &QTimer::timeout, &app, [&] { idle(false); });
    QObject::connect(&slowTimer, &QTimer::timeout, &app, [&] { idle(true); });
    idleTimer.start(timing.idleMs);
    slowTimer.start(timing.slowTickMs);
    idle(true);
    if (!ended) app.exec();

    idleTimer.stop();
    slowTimer.stop();
    joystickTimer.stop();
    joystick.stop(msNow());
    penTimer.stop();
    pen.stop();
    pen.drain();
    desktopEvents.removeHotKey(kHotKeyId);
    // The plug-in's monitor window and status sink go before the window does.
    headlessRestart().armed = false;
    headlessRestart().keepClaim = nullptr;
    controller.shutdownForExit();
    return 1;
}

}  // namespace tavik::controller::ui
