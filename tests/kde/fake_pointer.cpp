// A click at a screen position in a KWin session, for tests that must answer a desktop dialog:
// KWin's fake-input protocol (KWin grants it only to a program whose desktop file lists
// org_kde_kwin_fake_input in X-KDE-Wayland-Interfaces; tests/kde/kwin_session.sh --grant writes
// that file). Usage: kwin_fake_pointer X Y (left button pressed and released there).
// Exits 0 when the requests reached KWin, 2 without the interface, 1 on other faults.
#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "fake-input-client-protocol.h"

namespace {

org_kde_kwin_fake_input* gFake = nullptr;

void onGlobal(void*, wl_registry* registry, uint32_t name, const char* iface, uint32_t version) {
    if (std::strcmp(iface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 3)
        gFake = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 3));
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry = {onGlobal, onGlobalRemove};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s X Y\n", argv[0]);
        return 1;
    }
    const double x = std::atof(argv[1]), y = std::atof(argv[2]);
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "no Wayland display\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistry, nullptr);
    wl_display_roundtrip(display);
    if (!gFake) {
        std::fprintf(stderr, "KWin offers no org_kde_kwin_fake_input to this program\n");
        wl_display_disconnect(display);
        return 2;
    }
    org_kde_kwin_fake_input_authenticate(gFake, "tavik tests", "answers a desktop dialog");
    org_kde_kwin_fake_input_pointer_motion_absolute(gFake, wl_fixed_from_double(x), wl_fixed_from_double(y));
    wl_display_roundtrip(display);
    usleep(100000);
    org_kde_kwin_fake_input_button(gFake, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
    wl_display_roundtrip(display);
    usleep(50000);
    org_kde_kwin_fake_input_button(gFake, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
    const int rc = wl_display_roundtrip(display) < 0 ? 1 : 0;
    org_kde_kwin_fake_input_destroy(gFake);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return rc;
}
