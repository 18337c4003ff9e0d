// The screen viewer's main dialog as its tests use it: Qt (offscreen in the tests' environment)
// for the test's lifetime, a private folder for Lumo.ini and the configuration folder, the viewer on a
// fake desktop with one application window in front, and the dialog with the device input
// attached as the program attaches it.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QApplication>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "screenviewer/key_handling.h"
#include "screenviewer/sections.h"
#include "screenviewer/ui/main_dialog.h"
#include "tests/screenviewer/fake_desk.h"

namespace lumo::test {

// A base of test fixtures (beside ::testing::Test or TestWithParam): made anew for each test,
// its folder removed with everything in it at the end.
class MainDialogRig {
protected:
    // `tag` names the private folder ("<temp>/lumo-<tag>-<pid>"); XDG_CONFIG_HOME points into it.
    explicit MainDialogRig(const std::string& tag);
    ~MainDialogRig();
    MainDialogRig(const MainDialogRig&) = delete;
    MainDialogRig& operator=(const MainDialogRig&) = delete;

    // Makes the dialog (again) in English or Japanese from Lumo.ini as it stands, with a new key
    // handler attached: the emulation box, mouse text and dialog commands go to the dialog,
    // pointer moves into moves_, the start callback counts in started_.
    void openDialog(bool japanese);
    // Empties the hand-over buffer (no refresh thread runs here); true when a view was due.
    bool drain() { return viewer_->takeHandOver(); }
    QAbstractButton* box(int id) { return dialog_->findChild<QAbstractButton*>(QString::number(id)); }
    QAction* item(int id) { return dialog_->findChild<QAction*>(QString::number(id)); }
    // The integer Lumo.ini holds, -1 when absent.
    int stored(const char* section, const char* key) const;
    ViewRecord& cur() { return viewer_->current(); }

    std::unique_ptr<QApplication> app_;  // when no test made one before
    std::filesystem::path dir_;
    std::string ini_;
    FakeWorld world_;
    std::unique_ptr<ViewerShare> share_;
    std::unique_ptr<Viewer> viewer_;
    std::unique_ptr<ui::MainDialog> dialog_;
    std::unique_ptr<KeyHandler> keys_;
    std::vector<std::pair<int32_t, int32_t>> moves_;
    int started_ = 0;
};

}  // namespace lumo::test
