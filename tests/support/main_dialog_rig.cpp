// The screen viewer's main dialog rig of the dialog tests.
#include "tests/support/main_dialog_rig.h"

#include <QApplication>
#include <QString>

#include <cstdlib>
#include <unistd.h>

#include "common/ini_store.h"

namespace lumo::test {

MainDialogRig::MainDialogRig(const std::string& tag) {
    static int argc = 1;
    static char name[] = "lumo_dialog_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) app_ = std::make_unique<QApplication>(argc, argv);
    dir_ = std::filesystem::temp_directory_path() / ("lumo-" + tag + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    ini_ = (dir_ / "Lumo.ini").string();
    // The autostart item looks into the configuration folder: a private one.
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    world_.windows[100] = {{0, 0, 800, 600}, {0, 20, 800, 580}, 4100};
    world_.active = 100;
    share_ = std::make_unique<ViewerShare>();
    initialiseShare(*share_);
    viewer_ = std::make_unique<Viewer>(*share_, nullptr, configForCode(1, "Pinora PX-2"),
                                       std::make_unique<FakeDesk>(world_), std::make_unique<FakeDesk>(world_),
                                       DeviceSink{});
}

MainDialogRig::~MainDialogRig() {
    keys_.reset();
    dialog_.reset();
    viewer_.reset();
    app_.reset();  // before the process ends: Qt must not be torn down by static destructors
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void MainDialogRig::openDialog(bool japanese) {
    keys_.reset();
    dialog_.reset();
    dialog_ = std::make_unique<ui::MainDialog>(*viewer_, japanese, ini_, [this] { ++started_; });
    InputPorts p;
    p.emulationBox = [this](bool on) { dialog_->showEmulation(on); };
    p.mouseText = [this](const std::string& t) { dialog_->showMouseText(QString::fromStdString(t)); };
    p.mouseMove = [this](WindowId, int32_t x, int32_t y) { moves_.push_back({x, y}); };
    p.mouseDrag = [](WindowId, int32_t, int32_t, int) {};
    p.dialogCommand = [this](int id) { dialog_->runCommand(id); };
    keys_ = std::make_unique<KeyHandler>(*viewer_, std::move(p), japanese);
    dialog_->attachInput(*keys_);
}

int MainDialogRig::stored(const char* section, const char* key) const {
    return tavik::profileGetInt(section, key, -1, ini_);
}

}  // namespace lumo::test
