// Answering Plasma's screen chooser through the accessibility bus and KWin's fake input.
#include "tests/kde/plasma_chooser.h"

#include <atspi/atspi.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/atspi/atspi_hub.h"
#include "tests/support/wait.h"

namespace tavik::test {

using desktop::Rect;
using namespace std::chrono_literals;

bool answerPlasmaChooser(const desktop::kde::KWinFacts& facts, const std::string& fakePointer, std::string& why) {
    std::optional<Rect> client;
    if (!waitUntil([&] {
            for (const auto& w : facts.snapshot().windows)
                if (w.title.rfind("Screen Sharing", 0) == 0) client = w.client;
            return client.has_value();
        })) {
        why = "no chooser window";
        return false;
    }
    auto hub = atspi::Hub::acquire();
    if (!hub) {
        why = "no accessibility bus";
        return false;
    }
    struct Found {
        std::optional<Rect> tile;
        AtspiAccessible* share = nullptr;
    };
    Found found;
    const auto look = [&found] {
        AtspiAccessible* desktop = atspi_get_desktop(0);
        const gint apps = atspi_accessible_get_child_count(desktop, nullptr);
        for (gint i = 0; i < apps; ++i) {
            AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
            if (!app) continue;
            gchar* name = atspi_accessible_get_name(app, nullptr);
            const bool portal = name && std::string(name) == "xdg-desktop-portal-kde";
            g_free(name);
            if (portal) {
                std::vector<std::pair<AtspiAccessible*, int>> stack = {{app, 0}};
                while (!stack.empty()) {
                    auto [acc, depth] = stack.back();
                    stack.pop_back();
                    gchar* role = atspi_accessible_get_role_name(acc, nullptr);
                    gchar* label = atspi_accessible_get_name(acc, nullptr);
                    const std::string r = role ? role : "", l = label ? label : "";
                    g_free(role);
                    g_free(label);
                    if (r == "list item") {
                        if (AtspiComponent* c = atspi_accessible_get_component_iface(acc)) {
                            if (AtspiRect* e = atspi_component_get_extents(c, ATSPI_COORD_TYPE_WINDOW, nullptr)) {
                                found.tile = Rect{e->x, e->y, e->width, e->height};  // the last one wins
                                g_free(e);
                            }
                            g_object_unref(c);
                        }
                    } else if (r == "push button" && l == "Share" && !found.share) {
                        found.share = ATSPI_ACCESSIBLE(g_object_ref(acc));
                    }
                    const gint n = depth < 30 ? atspi_accessible_get_child_count(acc, nullptr) : 0;
                    for (gint k = n - 1; k >= 0; --k)
                        if (AtspiAccessible* ch = atspi_accessible_get_child_at_index(acc, k, nullptr))
                            stack.push_back({ch, depth + 1});
                    if (acc != app) g_object_unref(acc);
                }
            }
            g_object_unref(app);
        }
        g_object_unref(desktop);
    };
    if (!waitUntil([&] {
            hub->run(look, 5000);
            return found.tile && found.share;
        })) {
        why = "the chooser's screen tile or Share button not found on the accessibility bus";
        return false;
    }
    const int x = client->left + found.tile->left + found.tile->width / 2;
    const int y = client->top + found.tile->top + found.tile->height / 2;
    const std::string click = fakePointer + " " + std::to_string(x) + " " + std::to_string(y);
    if (std::system(click.c_str()) != 0) {
        why = "the fake-input click failed: " + click;
        return false;
    }
    std::this_thread::sleep_for(500ms);
    bool pressed = false;
    hub->run([&] {
        if (AtspiAction* a = atspi_accessible_get_action_iface(found.share)) {
            pressed = atspi_action_do_action(a, 0, nullptr);
            g_object_unref(a);
        }
        g_object_unref(found.share);
    });
    if (!pressed) why = "Share did not take the press";
    return pressed;
}

}  // namespace tavik::test
