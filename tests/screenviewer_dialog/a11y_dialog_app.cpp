// The viewer's dialogs shown on the test's X display for the accessibility
// test: "main en|ja" shows the main dialog, "connect en|ja" the connect
// dialog. Prints "ready <pid>" once shown and ends on "quit" (or end of input).
#include <QApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "screenviewer/sections.h"
#include "screenviewer/ui/connect_dialog.h"
#include "screenviewer/ui/main_dialog.h"
#include "tests/screenviewer/fake_desk.h"

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
    std::unique_ptr<QDialog> dialog;
    if (which == "main") dialog = std::make_unique<lumo::ui::MainDialog>(viewer, ja, "/nonexistent/Lumo.ini", [] {});
    else dialog = std::make_unique<lumo::ui::ConnectDialog>(ja, 0, 0);
    dialog->show();
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buf[256];
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n <= 0 || std::string(buf, size_t(n)).find("quit") != std::string::npos) app.quit();
    });
    std::printf("ready %d\n", int(::getpid()));
    std::fflush(stdout);
    return app.exec();
}
