// The screen viewer program Lumo: start-up in order (settings, hook section,
// hand-over to a viewer that already runs, share section, connection, panels,
// focus hook library, threads), the main dialog, and an orderly shutdown on
// Exit, SIGTERM/SIGINT, the end of the desktop session or a lost display.
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <dlfcn.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

#include "client/tavikutil.h"
#include "common/model_traits.h"
#include "common/settings.h"
#include "platform/run_time_library.h"
#include "platform/thread_queue.h"
#include "screenviewer/device_config.h"
#include "screenviewer/sections.h"
#include "screenviewer/key_handling.h"
#include "screenviewer/ui/connect_dialog.h"
#include "screenviewer/ui/input_glue.h"
#include "screenviewer/ui/main_dialog.h"
#include "screenviewer/ui/session.h"
#include "screenviewer/viewer.h"

namespace {

constexpr const char* kUsage =
    "Usage: Lumo [--show] [--help] [--version]\n"
    "Shows the screen on a tactile pin display: the window in front (or the whole screen) at the\n"
    "view's position and zoom, following the keyboard focus and the text caret.\n"
    "\n"
    "Start it on an X11 desktop. It asks for the port and the device (or finds the FTDI USB\n"
    "display by itself). A second start brings the running viewer to the front and ends.\n"
    "The main dialog sets the display range, the viewing modes and the refresh rate; Win+Alt+V\n"
    "brings a hidden dialog back.\n"
    "\n"
    "  --show     bring the running viewer's dialog to the front (start one when none runs);\n"
    "             bind it to Win+Alt+V where the desktop gives programs no global shortcuts\n"
    "\n"
    "Settings: $XDG_CONFIG_HOME/Orvane/TAVIK200_J/Lumo.ini ([Connection] Port, Hardware;\n"
    "[Browse] ScanningMode, MouseSync, Refresh, ViewFrame).\n"
    "Environment: TAVIK_UI_SCRIPT answers the connect dialog (\"connect|<port>|<row>|ok\"),\n"
    "TAVIK_FOREGROUND_PID_FILE names the process in front for the controller (scripted runs).\n";

int gSignalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &c, 1);
}

// The focus hook library, beside the program only ("LumoHook.dll" in its Windows
// spelling); it stays loaded for the life of the process.
struct HookModule {
    void* handle = nullptr;
    lumo::HookLibrary fns;
    HookModule() {
        handle = tavik::platform::loadRunTimeLibrary({"LumoHook.so", nullptr, nullptr, false}, [this](void* handle) {
            fns.start = reinterpret_cast<lumo::HookLibrary::StartFn>(::dlsym(handle, "StartMSAAThread"));
            fns.end = reinterpret_cast<lumo::HookLibrary::EndFn>(::dlsym(handle, "EndMSAAThread"));
            return true;
        });
    }
};

// The device start-up direct command (48 x 32 models).
void deviceStartCommand(int modelCode) {
    if (modelCode != 1 && modelCode != 4) return;
    if (gdStartDirectOperation(nullptr) != 1) return;
    static const unsigned char data[5] = {0x01, 0x00, 0x00, 0x00, 0x01};
    gdPostDirectCommand(229, 19, 5, data);
    gdEndDirectOperation();
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--show") == 0) continue;  // a second start hands over below anyway
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Lumo %s\n", TAVIK_VERSION_STRING);
            return 0;
        }
        std::fprintf(stderr, "Lumo: unknown argument \"%s\"\n%s", argv[i], kUsage);
        return 2;
    }

    // 1. Language and settings paths.
    tavik::InitSettingsPaths();
    const bool japanese = tavik::isJapanese(tavik::UiLanguage());
    const std::string ini = tavik::LumoIniPath();

    // 2. The hook section; 3. hand over to a viewer that already runs.
    tavik::platform::SectionError sectionError;
    auto hook = lumo::HookSection::openOrCreate(&sectionError);
    if (!hook) {
        std::fprintf(stderr, "Lumo: %s.\n", tavik::platform::describeSectionError(sectionError).c_str());
        return 1;
    }
    if (hook->data().dialogWindow != 0) {
        const int32_t pid = hook->data().viewerProcess;
        const bool posted = pid > 0 && tavik::platform::postThreadMessage(
                                           pid, tavik::platform::registerMessage(lumo::ui::kShowMessageName), 0, 0);
        std::fprintf(stderr, posted ? "Lumo: a viewer already runs; it comes to the front.\n"
                                    : "Lumo: a viewer already runs.\n");
        return 0;
    }

    // 4. The share section.
    auto share = lumo::ShareSection::openOrCreate(&sectionError);
    if (!share) {
        std::fprintf(stderr, "Lumo: %s.\n", tavik::platform::describeSectionError(sectionError).c_str());
        return 1;
    }

    // Qt for the dialogs; without a display nothing can be shown.
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fputs("Lumo: no display to show the screen of (DISPLAY is not set).\n", stderr);
        return 1;
    }
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    // 5. Connect.
    lumo::ui::Connection conn;
    const char* ftName = nullptr;
    int ftPort = -1;
    if (gdSelectFTConnection(&ftName, &ftPort) == 1 && ftName && ftName == tavik::ftdiModel().name) {
        conn.portIndex = ftPort;
        conn.device = lumo::usbConfig();
    } else {
        auto chosen = lumo::ui::askConnection(japanese, ini);
        if (!chosen) return 0;
        conn = *chosen;
    }
    if (gdStart(conn.device.modelName.c_str(), conn.portIndex, nullptr) != 1) {
        std::fprintf(stderr, "Lumo: the display \"%s\" on port %d could not be entered (no device?).\n",
                     conn.device.modelName.c_str(), conn.portIndex);
        return 1;
    }
    lumo::KeyHandler::registerCallbacks(conn.device.modelCode);

    // 6. Panels (in the viewer); 7. the focus hook library.
    HookModule hookModule;
    if (!hookModule.handle)
        std::fputs("Lumo: the focus hook library is missing; the view follows the window in front only.\n", stderr);
    lumo::Viewer viewer(share->data(), &hook->data(), conn.device, lumo::makeDesktopPort(), lumo::makeDesktopPort(),
                        lumo::clientLibrarySink());
    lumo::ui::Session session(viewer, hook->data());
    if (!viewer.usable() || !viewer.createThreads(hookModule.fns)) {
        std::fputs("Lumo: out of memory or threads.\n", stderr);
        session.end();
        return 1;
    }

    // 9. The main dialog.
    lumo::ui::MainDialog dialog(viewer, japanese, ini, [code = conn.device.modelCode] { deviceStartCommand(code); });
    session.attach(dialog);
    const auto input = lumo::ui::makeInput(viewer, dialog, japanese, conn.portIndex, conn.device.modelName);

    if (::pipe(gSignalPipe) == 0) {
        std::signal(SIGTERM, onSignal);
        std::signal(SIGINT, onSignal);
        auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &dialog);
        QObject::connect(notifier, &QSocketNotifier::activated, &dialog, [&dialog] { dialog.endSession(); });
    }
    dialog.show();
    dialog.exec();
    input->deactivate();  // device events from now on are dropped
    input->moveToEmulatedPosition();
    session.end();
    return 0;
}
