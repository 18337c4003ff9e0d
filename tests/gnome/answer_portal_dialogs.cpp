// Answers GNOME's portal consent dialogs as a user who agrees (tests/gnome/portal_dialog.h) until
// one took the Share press or SECONDS (default 60) passed; for scripts that need a screen cast or
// a remote pointer in a test session (bench/desktop_wayland/gnome_idle_cost.sh).
//   answer_portal_dialogs [SECONDS]
// Exit status 0 when a dialog was answered, 1 when none came in time, 2 without an accessibility
// bus.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/gnome/portal_dialog.h"

int main(int argc, char** argv) {
    const long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 60;
    if (seconds <= 0 || seconds > 3600) {
        std::fprintf(stderr, "usage: %s [SECONDS (1..3600)]\n", argv[0]);
        return 2;
    }
    tavik::test::PortalDialogs dialogs;
    if (!dialogs.ready()) {
        std::fprintf(stderr, "%s: no accessibility bus to reach the dialogs through\n", argv[0]);
        return 2;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (dialogs.answered() == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::printf("%s\n", dialogs.seen().empty() ? "no dialog came" : dialogs.seen().c_str());
    return dialogs.answered() > 0 ? 0 : 1;
}
