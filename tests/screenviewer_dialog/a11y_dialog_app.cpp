// The suite's dialogs shown on the test's X display for the accessibility
// test: "main", "connect" (the viewer's), "condition" (the binarization
// condition dialog), "controller" (the controller's window with its options
// and joystick dialogs), each followed by "en" or "ja". Prints "ready <pid>" once shown and
// ends on "quit" (or end of input); "unknown" for a dialog not built in.
#include <QApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "screenviewer/sections.h"
#include "screenviewer/ui/connect_dialog.h"
#include "screenviewer/ui/main_dialog.h"
#include "tests/screenviewer/fake_desk.h"
#ifdef A11Y_HAVE_CONDITION_DIALOG
#include "client/ui/condition_dialog_window.h"
#endif
#ifdef A11Y_HAVE_CONTROLLER_UI
#include "controller/ui/joystick_dialog.h"
#include "controller/ui/main_window.h"
#include "controller/ui/options_dialog.h"
#include "controller/ui/texts.h"
#endif

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string which = argv[1];
    const bool ja = std::strcmp(argv[2], "ja") == 0;
    QApplication app(argc, argv);
    lumo::FakeWorld world;
    auto share = std::make_unique<lumo::ViewerShare>();
    lumo::initialiseShare(*share);
    lumo::Viewer viewer(*share, nullptr, lumo::configForCode(1, "Pinora PX-2"), std::make_unique<lumo::FakeDesk>(world),
                        std::make_unique<lumo::FakeDesk>(world), lumo::DeviceSink{});
    std::vector<std::unique_ptr<QWidget>> shown;
    if (which == "main") shown.push_back(std::make_unique<lumo::ui::MainDialog>(viewer, ja, "/nonexistent/Lumo.ini", [] {}));
    else if (which == "connect") shown.push_back(std::make_unique<lumo::ui::ConnectDialog>(ja, 0, 0));
#ifdef A11Y_HAVE_CONDITION_DIALOG
    ConditionDialogServices services{};
    services.japanese = ja ? 1 : 0;
    if (which == "condition") shown.push_back(std::make_unique<tavik::ui::ConditionDialog>(services));
#endif
#ifdef A11Y_HAVE_CONTROLLER_UI
    const tavik::controller::ui::Texts texts(ja);
    if (which == "controller") {
        shown.push_back(std::make_unique<tavik::controller::ui::MainWindow>(texts, "/nonexistent/TAVIK.ini"));
        shown.push_back(std::make_unique<tavik::controller::ui::JoystickDialog>(
            texts, "/nonexistent/TAVIK.ini", [] { return false; }, [](const tavik::controller::JoystickSettings&) {}));
        shown.push_back(std::make_unique<tavik::controller::ui::OptionsDialog>(
            texts, "/nonexistent/TAVIK.ini", nullptr, true, [](const tavik::controller::OptionsEffect&) {}));
    }
#endif
    if (shown.empty()) {
        std::puts("unknown");
        return 2;
    }
    for (auto& w : shown) w->show();
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buf[256];
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n <= 0 || std::string(buf, size_t(n)).find("quit") != std::string::npos) QCoreApplication::exit(0);  // no close events: a window may ask before closing
    });
    std::printf("ready %d\n", int(::getpid()));
    std::fflush(stdout);
    return app.exec();
}
