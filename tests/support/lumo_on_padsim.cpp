// Starting and ending the screen viewer on padsim for the end-to-end tests.
#include "tests/support/lumo_on_padsim.h"

#include <unistd.h>

#include <csignal>

#include "tests/support/files.h"
#include "tests/support/processes.h"
#include "tests/support/suite_env.h"
#include "tests/support/wait.h"

namespace tavik::test {

LumoOnPadsim::LumoOnPadsim(const std::string& dir, const std::vector<std::string>& env, const std::string& browse)
    : dir_(dir), port_(20 + (::getpid() % 40)) {
    pad_ = std::make_unique<Padsim>(dir_);
    if (!pad_->started()) return;
    writePortMap(dir_, port_, pad_->link());
    writeFile(dir_ + "/config/Orvane/TAVIK200_J/Lumo.ini",
              "[Connection]\nPort=" + std::to_string(port_) + "\nHardware=2\n[Browse]\n" + browse);
    writeFile(dir_ + "/fg", "0\n");
    writeFile(dir_ + "/script", "connect||2|ok\n");
    std::vector<std::string> all = {"QT_QPA_PLATFORM=offscreen", "LANG=C", "TAVIK_UI_SCRIPT=" + dir_ + "/script"};
    all.insert(all.end(), env.begin(), env.end());
    app_ = std::make_unique<Child>(binDir() + "/Lumo", std::vector<std::string>{}, suiteEnv(dir_, all));
    writeFile(dir_ + "/fg", std::to_string(app_->pid()) + "\n");  // the viewer's slot is shown
}

LumoOnPadsim::~LumoOnPadsim() { stop(); }

bool LumoOnPadsim::waitPins(const std::vector<std::string>& rows, const std::string& plane) const {
    return pad_->waitState([&](const std::string& st) { return Padsim::grid(st, plane) == rows; });
}

std::string LumoOnPadsim::pinsText(const std::string& plane) const { return rowsText(pad_->grid(plane)); }

bool LumoOnPadsim::stop() {
    if (stopped_) return true;
    stopped_ = true;
    bool ended = true;
    if (app_) {
        app_->kill(SIGTERM);
        ended = app_->waitExit().has_value();
        app_.reset();
        ended = waitUntil([&] { return controllerPids(binDir() + "/TAVIK", port_).empty(); }) && ended;
    }
    pad_.reset();
    return ended;
}

std::string rowsText(const std::vector<std::string>& rows) {
    std::string s;
    for (const auto& r : rows) s += r + "\n";
    return s;
}

}  // namespace tavik::test
