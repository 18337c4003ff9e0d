// BitoraCore through a fake window, in this process, on the real client
// library, controller and serial plug-in with padsim as the device: the menu
// state with and without a file, the window keys and their view reports while
// suspended, mouse points scaled to the image, Save As and its failure, the
// preview rebuilt when the condition or the scale changes (a picture in use
// stays valid), the condition dialog opening without a new scan, the printed
// page of a picture in a PDF file, and pictures of other formats.
#include <gtest/gtest.h>

#include <atomic>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <unistd.h>

#include "bitmapviewer/bitora_core.h"
#include "bitmapviewer/ui/main_window.h"
#include "bitmapviewer/ui/print_page.h"
#include "bitmapviewer/ui/qt_picture_decoder.h"
#include "client/tavikutil.h"
#include "client/ui/condition_dialog.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/padsim.h"
#include "tests/support/processes.h"
#include "tests/support/suite_env.h"
#include "tests/support/temp_dir.h"

using namespace bitora;
using namespace tavik::test;

namespace {

constexpr int kW = 320, kH = 240;   // the test picture
constexpr int kPins = 64, kRows = 48;

// Black, with a white block at (100..139, 60..89) and a red block at (200..219, 150..169).
BitmapPtr makePicture() {
    BitmapPtr b(lumoCreateBitmap(kW, kH));
    if (!b) return b;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            uint32_t px = 0;
            if (x >= 100 && x < 140 && y >= 60 && y < 90) px = 0xFFFFFF;
            if (x >= 200 && x < 220 && y >= 150 && y < 170) px = 0xFF0000;
            b->lpPixels[y * kW + x] = px;
        }
    return b;
}

class FakeHost : public WindowHost {
public:
    void reportFailure(Failure what, const std::string& path, const LoadProblem& why) override {
        failures.emplace_back(what, path);
        reasons.push_back(why);
    }
    void fitImage(int w, int h) override { fitted = {w, h}; }
    void setFileTitle(const std::string& name) override { title = name; }
    void requestRepaint() override { ++repaints; }

    std::vector<std::pair<Failure, std::string>> failures;
    std::vector<LoadProblem> reasons;
    std::pair<int, int> fitted{0, 0};
    std::string title = "<none>";
    int repaints = 0;
};

// One port for the whole process (one client library state), padsim behind it.
struct Device {
    std::optional<TempDir> tmp;  // goes last: padsim ends first
    std::string dir;
    int port = 0;
    std::unique_ptr<Padsim> pad;
    bool started = false;
};
Device* gDevice = nullptr;
std::unique_ptr<QApplication> gApp;

class BitoraCoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        unsetenv("DISPLAY");
        static int argc = 1;
        static char name[] = "bitora_core_test";
        static char* argv[] = {name, nullptr};
        gApp = std::make_unique<QApplication>(argc, argv);
        const std::string bin = binDir();
        gDevice = new Device;
        for (const char* f : {"TAVIK", "Padrik.so", "padsim"})
            if (!std::filesystem::exists(bin + "/" + f)) return;
        gDevice->tmp.emplace("bitora-core");
        gDevice->dir = gDevice->tmp->path();
        gDevice->port = 30 + (::getpid() % 30);  // serial ports: indexes 64 and up are USB
        gDevice->pad = std::make_unique<Padsim>(gDevice->dir);
        writePortMap(gDevice->dir, gDevice->port, gDevice->pad->link());
        writeFile(gDevice->dir + "/fg", std::to_string(::getpid()) + "\n");  // this process is in front
        setenv("XDG_CONFIG_HOME", (gDevice->dir + "/config").c_str(), 1);
        setenv("TAVIK_PATH", (bin + "/TAVIK").c_str(), 1);
        setenv("TAVIK_FOREGROUND_PID_FILE", (gDevice->dir + "/fg").c_str(), 1);
        setenv("LANG", "C", 1);
        gDevice->started = gdStart("QX-64X48", gDevice->port, nullptr) == 1;
        lumoStartCtrl();
    }
    static void TearDownTestSuite() {
        if (gDevice && gDevice->started) gdEnd();
        lumoEndCtrl();
        if (gDevice && gDevice->pad) {
            waitUntil([] { return controllerPids(binDir() + "/TAVIK", gDevice->port).empty(); });
            gDevice->pad.reset();
        }
        delete gDevice;
        gDevice = nullptr;
        gApp.reset();
    }

    void SetUp() override {
        if (!gDevice->started) GTEST_SKIP() << "controller, plug-in or padsim not built, or the port did not open";
        dir_ = gDevice->dir + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::create_directories(dir_);
        picture_ = makePicture();
        ASSERT_TRUE(picture_);
        ASSERT_TRUE(lumoSaveBmp(picture_.get(), (dir_ + "/pic.bmp").c_str()));
        entry_ = lumoCreateEntry(0);
        core_ = std::make_unique<BitoraCore>(host_, DeviceSize{32, kPins, kRows}, entry_, 0);
    }
    void TearDown() override { core_.reset(); }

    // A fixed condition for the file (pic.bmp's pic.LMC, or pic.png.LMC for
    // the picture of that name): threshold 128, "Light".
    void fixedCondition(int division = 1, const std::string& file = "pic.LMC") {
        writeFile(dir_ + "/" + file, "nBaseX=0\r\nnBaseY=0\r\nnDivX=" + std::to_string(division) + "\r\nnDivY=" +
                                         std::to_string(division) +
                                         "\r\nfOverview=0\r\nfAutoThreshfold=0\r\nbThreshfold=128\r\nbMode=1\r\n");
    }
    const BitmapViewerRecord& rec() { return *core_->record(); }
    int reports() {
        int32_t n = 0;
        lumoQueryEntry(entry_, nullptr, nullptr, nullptr, nullptr, nullptr, &n);
        return n;
    }
    bool pinsShow(const std::function<bool(const std::vector<std::string>&)>& pred) {
        return gDevice->pad->waitState([&](const std::string& st) {
            const auto rows = Padsim::grid(st, "plane1");
            return rows.size() == kRows && pred(rows);
        });
    }

    std::string dir_;
    BitmapPtr picture_;
    LumoCtrlEntry entry_ = 0;
    FakeHost host_;
    std::unique_ptr<BitoraCore> core_;
};

}  // namespace

TEST_F(BitoraCoreTest, MenuStateFollowsTheFileTheViewAndTheEffect) {
    // Without a file every item but Open, Property, Page Setup, Exit and Suspend is greyed.
    MenuState m = core_->menuState();
    EXPECT_FALSE(m.fileOpen);
    core_->binaryView();
    core_->toggleOverview();
    core_->setEffect(Effect::Outline);
    core_->key(Key::Right, false);
    EXPECT_FALSE(core_->menuState().binaryView);
    EXPECT_FALSE(core_->menuState().overview);
    EXPECT_EQ(core_->picture(), nullptr);

    ASSERT_FALSE(core_->openFile(dir_ + "/missing.bmp"));
    ASSERT_EQ(host_.failures.size(), 1u);
    EXPECT_EQ(host_.failures[0].first, WindowHost::Failure::Load);

    fixedCondition();
    ASSERT_TRUE(core_->openFile(dir_ + "/pic.bmp"));
    EXPECT_EQ(host_.fitted, std::make_pair(kW, kH));
    EXPECT_EQ(host_.title, "pic.bmp");
    m = core_->menuState();
    EXPECT_TRUE(m.fileOpen);
    EXPECT_FALSE(m.binaryView);  // "ColorView" checked
    EXPECT_FALSE(m.overview);
    EXPECT_EQ(m.effect, Effect::None);
    core_->binaryView();
    EXPECT_TRUE(core_->menuState().binaryView);
    core_->colourView();
    EXPECT_FALSE(core_->menuState().binaryView);
    core_->toggleOverview();
    EXPECT_TRUE(core_->menuState().overview);
    EXPECT_EQ(rec().overviewFrame, 1);
    // The whole picture at five pixels a pin: the white block on columns 20..27, rows 12..17.
    EXPECT_TRUE(pinsShow([](const std::vector<std::string>& r) {
        return r[14].substr(19, 10) == ".########." && r[11].substr(19, 10) == std::string(10, '.');
    })) << gDevice->pad->state();
    core_->toggleOverview();
    EXPECT_FALSE(core_->menuState().overview);
    for (Effect e : {Effect::EraseGrid, Effect::Outline, Effect::Character, Effect::None}) {
        core_->setEffect(e);
        EXPECT_EQ(core_->menuState().effect, e);
    }
    EXPECT_EQ(rec().condition.bMode & 0xE000, 0);
    core_->toggleSuspend();
    EXPECT_TRUE(core_->menuState().suspended);
    core_->toggleSuspend();
    EXPECT_FALSE(core_->menuState().suspended);
}

TEST_F(BitoraCoreTest, KeysMoveTheViewAndReportItOnlyWhileSuspended) {
    fixedCondition();
    ASSERT_TRUE(core_->openFile(dir_ + "/pic.bmp"));
    core_->setClientArea(ClientArea{640, 480, 3, 20});  // two client pixels an image pixel
    const int before = reports();
    core_->key(Key::Right, false);
    EXPECT_EQ(rec().viewLeft, 1);
    core_->key(Key::Right, true);  // a scroll step: half the pins
    EXPECT_EQ(rec().viewLeft, 1 + kPins / 2);
    core_->key(Key::Pad1, false);  // left and down
    EXPECT_EQ(rec().viewLeft, kPins / 2);
    EXPECT_EQ(rec().viewTop, 1);
    core_->key(Key::End, false);
    EXPECT_EQ(rec().viewLeft, kW - kPins);
    core_->key(Key::End, true);
    EXPECT_EQ(rec().viewTop, kH - kRows);
    core_->key(Key::Home, false);
    EXPECT_EQ(rec().viewLeft, 0);
    EXPECT_EQ(rec().viewTop, kH - kRows);
    core_->key(Key::Home, true);
    EXPECT_EQ(rec().viewTop, 0);
    core_->key(Key::PageDown, false);
    EXPECT_EQ(rec().cellWidth, 2);
    core_->key(Key::PageUp, false);
    EXPECT_EQ(rec().cellWidth, 1);
    EXPECT_EQ(reports(), before);  // the display runs: nothing reported

    core_->key(Key::Home, false);
    core_->key(Key::Home, true);
    core_->key(Key::Pad3, false);  // to (1, 1)
    core_->toggleSuspend();        // suspending reports the view
    EXPECT_FALSE(core_->viewRectangle());
    uint32_t mask = 0;
    int32_t x = 0, y = 0, dx = 0, dy = 0;
    lumoQueryEntry(entry_, &mask, &x, &y, &dx, &dy, nullptr);
    EXPECT_EQ(reports(), before + 1);
    EXPECT_EQ(mask & 0x10000, 0u);
    EXPECT_EQ(x, 2 + 3);
    EXPECT_EQ(y, 2 + 20);
    core_->key(Key::Pad6, false);
    lumoQueryEntry(entry_, nullptr, &x, &y, &dx, &dy, nullptr);
    EXPECT_EQ(reports(), before + 2);
    EXPECT_EQ(x, 4 + 3);
    EXPECT_EQ(dx, 1);
    core_->toggleSuspend();
    lumoQueryEntry(entry_, &mask, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(mask & 0x10000, 0x10000u);
    ASSERT_TRUE(core_->viewRectangle());
    EXPECT_EQ(core_->viewRectangle()->left, 2);
}

TEST_F(BitoraCoreTest, ClicksAreScaledFromTheClientAreaToTheImage) {
    fixedCondition();
    ASSERT_TRUE(core_->openFile(dir_ + "/pic.bmp"));
    core_->setClientArea(ClientArea{640, 480, 0, 0});
    core_->pointAt(278, 178);  // image pixel (139, 89): the view moves the least to show it
    EXPECT_EQ(rec().viewLeft, 139 - kPins + 1);
    EXPECT_EQ(rec().viewTop, 89 - kRows + 1);
    // The white block's bottom-right corner now sits on the last pin of the view.
    EXPECT_TRUE(pinsShow([](const std::vector<std::string>& r) {
        return r[kRows - 1] == std::string(24, '.') + std::string(40, '#') && r[17] == std::string(kPins, '.') &&
               r[18] == r[kRows - 1];
    })) << gDevice->pad->state();
    core_->setClientArea(ClientArea{160, 120, 0, 0});  // half an image pixel each
    core_->pointAt(10, 5);
    EXPECT_EQ(rec().viewLeft, 20);
    EXPECT_EQ(rec().viewTop, 10);
}

namespace {

// The mouse as the viewer's pointer reports move and click it.
class RecordingMouse : public MouseOutput {
public:
    void move(unsigned long, int x, int y) override { add("move", x, y, 0); }
    void press(unsigned long, int x, int y, int buttons) override { add("press", x, y, buttons); }
    void release(unsigned long, int x, int y, int buttons) override { add("release", x, y, buttons); }
    std::vector<std::string> actions() {
        std::lock_guard lock(mutex_);
        return actions_;
    }

private:
    void add(const char* what, int x, int y, int buttons) {
        std::lock_guard lock(mutex_);
        actions_.push_back(std::string(what) + " " + std::to_string(x) + " " + std::to_string(y) + " " +
                           std::to_string(buttons));
    }
    std::mutex mutex_;
    std::vector<std::string> actions_;
};

}  // namespace

// The device's pointer keys reach the mouse at the pointer's place scaled from
// the image to the client area (three client pixels to two image pixels here).
TEST_F(BitoraCoreTest, PointerReportsAreScaledToTheClientArea) {
    RecordingMouse mouse;
    core_->setMouseOutput(&mouse);
    fixedCondition();
    const size_t logBefore = gDevice->pad->log().size();
    ASSERT_TRUE(core_->openFile(dir_ + "/pic.bmp"));
    core_->setClientArea(ClientArea{480, 360, 0, 0});
    // Keys go to the application whose slot the display shows: wait for its status cells.
    ASSERT_TRUE(waitUntil([&] {
        return gDevice->pad->log().find("text: c0", logBefore) != std::string::npos;
    })) << gDevice->pad->log();
    gDevice->pad->command("key 4 12 0");  // pointer on: the view's centre (32, 24)
    ASSERT_TRUE(waitUntil([&] { return mouse.actions().size() == 1; }))
        << std::atomic_ref<const int32_t>(rec().pointerMode).load() << "\n" << gDevice->pad->log();
    EXPECT_EQ(mouse.actions()[0], "move 48 36 0");
    gDevice->pad->command("key 4 8 0x20");  // left click
    ASSERT_TRUE(waitUntil([&] { return mouse.actions().size() == 3; }));
    EXPECT_EQ(mouse.actions()[1], "press 48 36 1");
    EXPECT_EQ(mouse.actions()[2], "release 48 36 0");
    gDevice->pad->command("key 4 12 0x80");  // pointer off
    // Written by the library's notification thread.
    ASSERT_TRUE(waitUntil([&] { return std::atomic_ref<const int32_t>(rec().pointerMode).load() == 0; }));
    core_->closeFile();
    core_->setMouseOutput(nullptr);
}

TEST_F(BitoraCoreTest, SaveAsMovesTheFileAndItsConditionsAndFailureKeepsTheName) {
    fixedCondition();
    ASSERT_TRUE(core_->openFile(dir_ + "/pic.bmp"));
    core_->key(Key::Pad3, false);
    ASSERT_TRUE(core_->saveAs(dir_ + "/copy.bmp"));
    EXPECT_EQ(core_->path(), dir_ + "/copy.bmp");
    EXPECT_EQ(host_.title, "copy.bmp");
    int32_t size[2] = {0, 0};
    BitmapPtr back(lumoLoadBmp((dir_ + "/copy.bmp").c_str(), size));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->nWidth, kW);
    EXPECT_EQ(back->lpPixels[70 * kW + 110], 0xFFFFFFu);
    EXPECT_EQ(readFile(dir_ + "/copy.LMC").substr(0, 18), "nBaseX=1\r\nnBaseY=1");

    EXPECT_FALSE(core_->saveAs(dir_ + "/no-such-folder/other.bmp"));
    EXPECT_EQ(core_->path(), dir_ + "/copy.bmp");
    EXPECT_EQ(host_.title, "copy.bmp");
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/no-such-folder"));
    // Closing writes the conditions of the name in force.
    core_->key(Key::Pad3, false);
    core_->closeFile();
    EXPECT_EQ(readFile(dir_ + "/copy.LMC").substr(0, 18), "nBaseX=2\r\nnBaseY=2");
}

// A PNG opens through the picture decoder and shows like its BMP; Save As
// writes BMP; a file no reader takes is reported with its reason while the
// open file stays.
TEST_F(BitoraCoreTest, OtherFormatsOpenThroughTheDecoderAndAFailureKeepsTheFile) {
    ui::QtPictureDecoder decoder;
    core_->setPictureDecoder(&decoder);
    const QImage png(reinterpret_cast<const uchar*>(picture_->lpPixels), kW, kH, kW * 4, QImage::Format_RGB32);
    ASSERT_TRUE(png.save(QString::fromStdString(dir_ + "/pic.png"), "PNG"));
    fixedCondition(5, "pic.png.LMC");
    ASSERT_TRUE(core_->openFile(dir_ + "/pic.png"));
    EXPECT_EQ(host_.fitted, std::make_pair(kW, kH));
    EXPECT_EQ(host_.title, "pic.png");
    // The whole picture at five pixels a pin: the white block on columns 20..27, rows 12..17.
    EXPECT_TRUE(pinsShow([](const std::vector<std::string>& r) {
        return r[14].substr(19, 10) == ".########." && r[11].substr(19, 10) == std::string(10, '.');
    })) << gDevice->pad->state();

    ASSERT_TRUE(core_->saveAs(dir_ + "/copy.bmp"));
    BitmapPtr back(lumoLoadBmp((dir_ + "/copy.bmp").c_str(), nullptr));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->nWidth, kW);
    ASSERT_EQ(back->nHeight, kH);
    EXPECT_EQ(std::memcmp(back->lpPixels, picture_->lpPixels, size_t(kW) * kH * 4), 0);

    writeFile(dir_ + "/bad.png", "\x89PNG\r\n\x1a\nno picture here");
    host_.failures.clear();
    host_.reasons.clear();
    EXPECT_FALSE(core_->openFile(dir_ + "/bad.png"));
    ASSERT_EQ(host_.failures.size(), 1u);
    EXPECT_EQ(host_.failures[0], std::make_pair(WindowHost::Failure::Load, dir_ + "/bad.png"));
    EXPECT_EQ(host_.reasons[0].reason, LoadProblem::Reason::Undecodable);
    EXPECT_FALSE(host_.reasons[0].detail.empty());
    EXPECT_FALSE(core_->openFile(dir_ + "/gone.jpg"));
    EXPECT_EQ(host_.reasons[1].reason, LoadProblem::Reason::NotFound);
    EXPECT_TRUE(core_->fileOpen());
    EXPECT_EQ(core_->path(), dir_ + "/copy.bmp");
    EXPECT_EQ(host_.title, "copy.bmp");
    core_->closeFile();
}

// The preview shows qualifying pixels in greys 64..191 and outlines the cells
// that raise a pin in black; it is made again when the condition or the scale
// changes, while a picture already handed out stays valid and unchanged.
TEST_F(BitoraCoreTest, PreviewIsRebuiltAndAPictureInUseOutlivesIt) {
    fixedCondition();
    ASSERT_TRUE(core_->openFile(dir_ + "/pic.bmp"));
    EXPECT_EQ(core_->picture().get(), core_->colourBitmap());
    core_->binaryView();
    const Picture first = core_->picture();
    ASSERT_TRUE(first);
    EXPECT_NE(first.get(), core_->colourBitmap());
    EXPECT_EQ(core_->picture(), first);                    // nothing changed: the same preview
    EXPECT_EQ(first->lpPixels[70 * kW + 110], 0x000000u);  // a white pixel above 128: its cell outlined
    EXPECT_EQ(first->lpPixels[10 * kW + 10], 0x404040u);   // black: grey 0 / 2 + 64, no pin
    const std::vector<uint32_t> firstPixels(first->lpPixels, first->lpPixels + kW * kH);

    core_->setEffect(Effect::Outline);  // the condition changed
    const Picture outlined = core_->picture();
    ASSERT_TRUE(outlined);
    EXPECT_NE(outlined, first);
    EXPECT_EQ(std::vector<uint32_t>(first->lpPixels, first->lpPixels + kW * kH), firstPixels);
    EXPECT_NE(outlined->lpPixels[75 * kW + 120], 0x000000u);  // inside the block: no pin any more
    EXPECT_EQ(outlined->lpPixels[60 * kW + 120], 0x000000u);  // its border keeps its pins

    core_->key(Key::PageDown, false);  // the scale changed
    const Picture coarser = core_->picture();
    EXPECT_NE(coarser, outlined);
    core_->colourView();
    EXPECT_EQ(core_->picture().get(), core_->colourBitmap());
}

// Opening the dialog shows the condition as it stands: it neither scans the
// source again nor sends new pins (a pixel painted into the source since stays
// unseen until the condition is realized).
TEST_F(BitoraCoreTest, ConditionDialogOpensWithoutANewScan) {
    fixedCondition();
    ASSERT_TRUE(core_->openFile(dir_ + "/pic.bmp"));
    const uint32_t whiteBefore = rec().condition.adwHistogram[255];
    ASSERT_EQ(whiteBefore, 40u * 30u);
    LumoBitmap* source = core_->colourBitmap();
    for (int x = 10; x < 20; ++x) source->lpPixels[5 * kW + x] = 0xFFFFFF;
    QString shownThreshold;
    bool closed = false;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(w);
            if (!dialog || !dialog->isVisible()) continue;
            if (auto* t = dialog->findChild<QLabel*>(QStringLiteral("272"))) shownThreshold = t->text();
            if (auto* ok = dialog->findChild<QAbstractButton*>(QStringLiteral("1"))) {
                ok->click();
                closed = true;
            }
        }
    });
    EXPECT_EQ(gdShowConditionDlg(0), 1);
    EXPECT_TRUE(closed);
    EXPECT_EQ(shownThreshold, QStringLiteral("128"));
    EXPECT_EQ(rec().condition.adwHistogram[255], whiteBefore);
    EXPECT_TRUE(core_->fileOpen());
    // A realize reads the painted pixels.
    ASSERT_EQ(gdRealizeCondition(), 1);
    EXPECT_EQ(rec().condition.adwHistogram[255], whiteBefore + 10);
    EXPECT_TRUE(pinsShow([](const std::vector<std::string>& r) { return r[5].substr(8, 14) == "..##########.."; }))
        << gDevice->pad->state();
}

// The printed page holds the picture at the top-left margin corner, scaled by
// one factor to the printable width: rendered back, the white and red blocks
// stand where the factor puts them and the rest of the page is white.
TEST_F(BitoraCoreTest, PrintsThePictureOnAPdfPage) {
    fixedCondition();
    ASSERT_TRUE(core_->openFile(dir_ + "/pic.bmp"));
    const Picture pic = core_->picture();
    ASSERT_TRUE(pic);
    const QImage image = ui::toImage(*pic);
    ASSERT_EQ(image.width(), kW);
    EXPECT_EQ(image.pixel(110, 70) & 0xFFFFFF, 0xFFFFFFu);

    const std::string pdf = dir_ + "/page.pdf";
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 20, 20, 20),
                                      QPageLayout::Millimeter));
    printer.setDocName(QString::fromStdString(core_->fileName()));
    int steps = 0;
    ASSERT_EQ(ui::printImage(printer, image, [&] { return ++steps > 0; }), ui::PrintStep::Done);
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(readFile(pdf).substr(0, 5), "%PDF-");
    // A cancelled print stops before drawing.
    QPrinter cancelled(QPrinter::HighResolution);
    cancelled.setOutputFormat(QPrinter::PdfFormat);
    cancelled.setOutputFileName(QString::fromStdString(dir_ + "/cancelled.pdf"));
    EXPECT_EQ(ui::printImage(cancelled, image, [] { return false; }), ui::PrintStep::StartPage);
    EXPECT_EQ(ui::printImage(cancelled, QImage(), [] { return true; }), ui::PrintStep::Stretch);

    if (std::system("command -v pdftoppm >/dev/null 2>&1") != 0) GTEST_SKIP() << "pdftoppm missing: page not rendered";
    // 72 dots an inch: the A4 page is 595 x 842, the margins 56.7 dots, the printable width 481.9.
    ASSERT_EQ(std::system(("pdftoppm -r 72 -singlefile \"" + pdf + "\" \"" + dir_ + "/page\"").c_str()), 0);
    QImage page(QString::fromStdString(dir_ + "/page.ppm"));
    ASSERT_FALSE(page.isNull());
    EXPECT_NEAR(page.width(), 595, 1);
    const double margin = 20 / 25.4 * 72, f = (595.0 - 2 * margin) / kW;
    const auto at = [&](double x, double y) {
        return page.pixel(static_cast<int>(margin + x * f), static_cast<int>(margin + y * f)) & 0xFFFFFF;
    };
    const auto near = [](QRgb c, QRgb want) {
        return std::abs(qRed(c) - qRed(want)) < 40 && std::abs(qGreen(c) - qGreen(want)) < 40 &&
               std::abs(qBlue(c) - qBlue(want)) < 40;
    };
    EXPECT_TRUE(near(at(120, 75), 0xFFFFFF));   // the white block
    EXPECT_TRUE(near(at(50, 50), 0x000000));    // the black picture around it
    EXPECT_TRUE(near(at(210, 160), 0xFF0000));  // the red block
    EXPECT_TRUE(near(at(310, 230), 0x000000));  // the picture's far corner
    EXPECT_TRUE(near(page.pixel(page.width() / 2, static_cast<int>(margin + kH * f + 40)), 0xFFFFFF));  // below it
    EXPECT_TRUE(near(page.pixel(static_cast<int>(margin / 2), static_cast<int>(margin / 2)), 0xFFFFFF));
}

// The window greys the items that need a file and checks the view, overview,
// effect and suspension items by the program's state; its keys reach the view.
TEST_F(BitoraCoreTest, WindowMenusAndKeysFollowTheProgram) {
    core_.reset();  // the window makes its own
    ui::Texts texts(false);
    ui::MainWindow window(texts, DeviceSize{32, kPins, kRows});
    window.attach(entry_);
    const auto action = [&](int id) {
        QAction* a = window.findChild<QAction*>(QString::number(id));
        EXPECT_NE(a, nullptr) << id;
        return a;
    };
    const auto openMenus = [&] {
        for (QMenu* m : window.menuBar()->findChildren<QMenu*>()) emit m->aboutToShow();
    };
    const std::vector<int> needFile = {514, 529, 530, 531, 532, 533, 534, 536, 537, 538, 539};
    openMenus();
    for (int id : needFile) EXPECT_FALSE(action(id)->isEnabled()) << id;
    for (int id : {513, 515, 516, 517, 527, 528}) EXPECT_TRUE(action(id)->isEnabled()) << id;
    EXPECT_FALSE(action(529)->isChecked());

    fixedCondition();
    ASSERT_TRUE(window.core()->openFile(dir_ + "/pic.bmp"));
    openMenus();
    for (int id : needFile) EXPECT_TRUE(action(id)->isEnabled()) << id;
    EXPECT_TRUE(action(529)->isChecked());
    EXPECT_FALSE(action(530)->isChecked());
    EXPECT_TRUE(action(536)->isChecked());
    action(530)->trigger();
    action(538)->trigger();
    openMenus();
    EXPECT_FALSE(action(529)->isChecked());
    EXPECT_TRUE(action(530)->isChecked());
    EXPECT_FALSE(action(536)->isChecked());
    EXPECT_TRUE(action(538)->isChecked());
    EXPECT_EQ(window.core()->record()->condition.bMode & 0xE000, BIN_OUTLINE);

    // Keys: Right, then keypad 3 (right and down), then Page Down.
    const BitmapViewerRecord& r = *window.core()->record();
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &right);
    QKeyEvent pad3(QEvent::KeyPress, Qt::Key_3, Qt::KeypadModifier);
    QCoreApplication::sendEvent(&window, &pad3);
    EXPECT_EQ(r.viewLeft, 2);
    EXPECT_EQ(r.viewTop, 1);
    QKeyEvent pageDown(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &pageDown);
    EXPECT_EQ(r.cellWidth, 2);

    action(533)->trigger();
    action(528)->trigger();
    openMenus();
    EXPECT_TRUE(action(533)->isChecked());
    EXPECT_TRUE(action(528)->isChecked());
    action(528)->trigger();
    action(533)->trigger();
    openMenus();
    EXPECT_FALSE(action(528)->isChecked());
    EXPECT_FALSE(action(533)->isChecked());
    // Closing the window writes the view beside the picture.
    window.close();
    EXPECT_FALSE(window.core()->fileOpen());
    EXPECT_NE(readFile(dir_ + "/pic.LMC").find("bMode=16385"), std::string::npos) << readFile(dir_ + "/pic.LMC");
}
