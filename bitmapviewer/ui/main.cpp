// The bitmap viewer program Bitora: command line, connection to the display,
// the main window and its message loop, and an orderly end on SIGTERM/SIGINT
// (the view-condition file is written as on closing the window).
#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <dlfcn.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bitmapviewer/command_line.h"
#include "bitmapviewer/ui/main_window.h"
#include "client/tavikutil.h"
#include "common/model_traits.h"
#include "common/settings.h"
#include "outside/viewctrl/lumoctrl.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &c, 1);
}

// The port selection calls come with the client library's port detection; found at run time.
using SelectFtFn = int (*)(const char** name, int* portIndex);
using StartSelectionFn = int (*)(GdStatusCallback callback, TavikWindow owner);

bool connectDisplay(const bitora::CommandLine& cl) {
    if (cl.portIndex && !cl.model.empty()) return gdStart(cl.model.c_str(), *cl.portIndex, nullptr) == 1;
    if (auto selectFt = reinterpret_cast<SelectFtFn>(dlsym(RTLD_DEFAULT, "gdSelectFTConnection"))) {
        const char* name = nullptr;
        int port = -1;
        const std::string_view usbModel = tavik::ftdiModel().name;
        if (selectFt(&name, &port) == 1 && name && name == usbModel) return gdStart(usbModel.data(), port, nullptr) == 1;
    }
    if (auto select = reinterpret_cast<StartSelectionFn>(dlsym(RTLD_DEFAULT, "gdStartSelection")))
        return select(nullptr, 0) == 1;
    std::fputs("Bitora: no port selection available; give /Com<n> and /Hardware=<model>.\n", stderr);
    return false;
}

// The display's size once it has identified itself: every 100 ms for 3 s.
bool queryDevice(bitora::DeviceSize& d) {
    for (int i = 0; i <= 30; ++i) {
        if (gdQueryEquipment(-1, nullptr, &d.textCells, &d.pinColumns, &d.pinRows) == 1) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// Ends the view-control session on every way out of main.
struct CtrlSession {
    ~CtrlSession() { lumoEndCtrl(); }
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> tokens;
    QString screenshot;
    bool binary = false;
    int svgSize = bitora::ui::QtPictureDecoder::kDefaultSvgSize;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--binary") == 0) {
            binary = true;
            continue;
        }
        if (std::strcmp(argv[i], "--svg-size") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (!end || *end != '\0' || v < 1 || v > bitora::ui::QtPictureDecoder::kMaxSvgSize) {
                std::fprintf(stderr, "Bitora: --svg-size takes 1..%d pixels\n",
                             bitora::ui::QtPictureDecoder::kMaxSvgSize);
                return 2;
            }
            svgSize = static_cast<int>(v);
            continue;
        }
        if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            screenshot = QString::fromLocal8Bit(argv[++i]);
            continue;
        }
        tokens.emplace_back(argv[i]);
    }
    const bitora::CommandLine cl = bitora::parseTokens(tokens);
    if (cl.help) {
        std::fputs(bitora::usageText().c_str(), stdout);
        std::fputs("  --binary            open the file in the two-level view\n", stdout);
        std::printf("  --svg-size N        render scalable pictures (SVG) with N pixels on the long\n"
                    "                      side (default %d)\n",
                    bitora::ui::QtPictureDecoder::kDefaultSvgSize);
        std::fputs("  --screenshot PNG    save a picture of the window shortly after start (diagnostics)\n", stdout);
        QCoreApplication core(argc, argv);  // the plug-ins are found through it
        std::printf("\nFormats read here: %s\n",
                    bitora::ui::QtPictureDecoder::formats().join(QStringLiteral(", ")).toUtf8().constData());
        return 0;
    }
    if (cl.version) {
        std::printf("Bitora %s\n", TAVIK_VERSION_STRING);
        return 0;
    }
    for (const std::string& t : cl.ignored) std::fprintf(stderr, "Bitora: ignored \"%s\" (port 1..80)\n", t.c_str());

    const bool japanese = tavik::isJapanese(tavik::ReadUiLanguage());
    tavik::InitSettingsPaths();
    if (!lumoStartCtrl()) {
        std::fputs("Bitora: the view control could not be started.\n", stderr);
        return 1;
    }
    CtrlSession ctrl;
    QApplication app(argc, argv);

    if (!connectDisplay(cl)) {
        std::fputs("Bitora: could not connect to the tactile display.\n", stderr);
        return 1;
    }
    bitora::DeviceSize device;
    if (!queryDevice(device)) {
        std::fputs("Bitora: the tactile display did not identify itself.\n", stderr);
        gdEnd();
        return 1;
    }

    const bitora::ui::Texts texts(japanese);
    int result = 0;
    {
        bitora::ui::MainWindow window(texts, device);
        window.setSvgSize(svgSize);
        window.show();
        window.activateWindow();
        const LumoCtrlEntry entry = lumoCreateEntry(static_cast<unsigned long>(window.winId()));
        window.attach(entry);
        lumoSetFunctionMask(entry, 0x10000, 0x10000);

        if (::pipe(gSignalPipe) == 0) {
            std::signal(SIGTERM, onSignal);
            std::signal(SIGINT, onSignal);
        }
        QSocketNotifier notifier(gSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, &window, [&window] { window.close(); });

        if (!cl.file.empty()) {
            bitora::BitoraCore::sendStartupCommand();
            if (window.core()->openFile(cl.file) && binary) window.core()->binaryView();
        }
        if (!screenshot.isEmpty()) {
            QTimer::singleShot(1500, &window, [&window, screenshot] {
                if (!window.saveScreenshot(screenshot)) std::fputs("Bitora: screenshot not written\n", stderr);
            });
        }
        QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
        result = app.exec();
    }
    gdEnd();
    return result;
}
