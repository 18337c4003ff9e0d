// GNOME's portal consent dialogs ("Screen Share", "Remote desktop"), answered for the tests as a
// user who agrees would answer them: the first screen chosen, remote interaction allowed, Share
// pressed. The dialogs are GTK 4 windows of xdg-desktop-portal-gnome, reached through the
// accessibility bus.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavik::atspi {
class Hub;
}

namespace tavik::test {

class PortalDialogs {
public:
    // Looks for a dialog every 200 ms while the object lives. Check ready() before relying on it.
    PortalDialogs();
    ~PortalDialogs();
    PortalDialogs(const PortalDialogs&) = delete;
    PortalDialogs& operator=(const PortalDialogs&) = delete;

    // False when there is no accessibility bus to reach the dialogs through.
    bool ready() const { return hub_ != nullptr; }
    // How many dialogs took the Share press so far.
    int answered() const { return answered_.load(); }
    // What the last look at a dialog saw, for failure messages ("" when none showed).
    std::string seen() const;

private:
    void look();

    std::shared_ptr<tavik::atspi::Hub> hub_;
    std::atomic<int> answered_{0};
    mutable std::mutex m_;
    std::string seen_;
    std::vector<std::shared_ptr<void>> answeredDialogs_;  // on the hub thread
    std::jthread thread_;
};

}  // namespace tavik::test
