// Answering GNOME's portal dialogs through the accessibility bus.
#include "tests/gnome/portal_dialog.h"

#include <atspi/atspi.h>

#include <chrono>
#include <vector>

#include "platform/atspi/atspi_hub.h"

namespace tavik::test {

namespace {

struct Unref {
    void operator()(void* p) const {
        if (p) g_object_unref(p);
    }
};
using Ref = std::unique_ptr<AtspiAccessible, Unref>;

std::string text(gchar* s) {
    std::string t = s ? s : "";
    g_free(s);
    return t;
}

bool hasState(AtspiAccessible* a, AtspiStateType state) {
    AtspiStateSet* set = atspi_accessible_get_state_set(a);
    if (!set) return false;
    const bool has = atspi_state_set_contains(set, state);
    g_object_unref(set);
    return has;
}

bool act(AtspiAccessible* a) {
    AtspiAction* action = atspi_accessible_get_action_iface(a);
    if (!action) return false;
    const bool done = atspi_action_do_action(action, 0, nullptr);
    g_object_unref(action);
    return done;
}

// What a dialog holds that the answer needs.
struct Dialog {
    std::vector<Ref> lists;       // source lists (the screens to share)
    std::vector<Ref> allowBoxes;  // check boxes inside a list row ("Allow remote interaction")
    Ref share;
};

void collect(AtspiAccessible* a, Dialog& d, bool inRow, int depth) {
    const AtspiRole role = atspi_accessible_get_role(a, nullptr);
    if (role == ATSPI_ROLE_LIST) {
        d.lists.emplace_back(ATSPI_ACCESSIBLE(g_object_ref(a)));
    } else if (role == ATSPI_ROLE_CHECK_BOX && inRow) {
        d.allowBoxes.emplace_back(ATSPI_ACCESSIBLE(g_object_ref(a)));
    } else if (role == ATSPI_ROLE_PUSH_BUTTON && !d.share &&
               text(atspi_accessible_get_name(a, nullptr)).find("Share") != std::string::npos) {
        d.share.reset(ATSPI_ACCESSIBLE(g_object_ref(a)));
    }
    if (depth >= 30) return;
    const gint n = atspi_accessible_get_child_count(a, nullptr);
    for (gint i = 0; i < n; ++i)
        if (Ref child{atspi_accessible_get_child_at_index(a, i, nullptr)})
            collect(child.get(), d, inRow || role == ATSPI_ROLE_LIST_ITEM, depth + 1);
}

}  // namespace

PortalDialogs::PortalDialogs() : hub_(tavik::atspi::Hub::acquire()) {
    if (!hub_) return;
    thread_ = std::jthread([this](std::stop_token stop) {
        while (!stop.stop_requested()) {
            hub_->run([this] { look(); }, 5000);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
}

PortalDialogs::~PortalDialogs() = default;

std::string PortalDialogs::seen() const {
    std::lock_guard g(m_);
    return seen_;
}

// On the hub thread.
void PortalDialogs::look() {
    Ref desktop{atspi_get_desktop(0)};
    if (!desktop) return;
    const gint apps = atspi_accessible_get_child_count(desktop.get(), nullptr);
    for (gint i = 0; i < apps; ++i) {
        Ref app{atspi_accessible_get_child_at_index(desktop.get(), i, nullptr)};
        if (!app || text(atspi_accessible_get_name(app.get(), nullptr)) != "xdg-desktop-portal-gnome") continue;
        const gint windows = atspi_accessible_get_child_count(app.get(), nullptr);
        for (gint w = 0; w < windows; ++w) {
            Ref frame{atspi_accessible_get_child_at_index(app.get(), w, nullptr)};
            if (!frame || !hasState(frame.get(), ATSPI_STATE_SHOWING)) continue;
            bool done = false;
            for (const auto& a : answeredDialogs_) done = done || a.get() == frame.get();
            if (done) continue;  // pressed already, on its way out
            Dialog d;
            collect(frame.get(), d, false, 0);
            if (!d.share) continue;
            std::string what = "dialog '" + text(atspi_accessible_get_name(frame.get(), nullptr)) + "':";
            // The first source, when none is chosen yet (a list of devices has check boxes instead).
            for (const Ref& list : d.lists) {
                if (!d.allowBoxes.empty()) break;
                AtspiSelection* sel = atspi_accessible_get_selection_iface(list.get());
                if (!sel) continue;
                if (atspi_selection_get_n_selected_children(sel, nullptr) == 0)
                    what += atspi_selection_select_child(sel, 0, nullptr) ? " first source chosen;" : " choosing failed;";
                g_object_unref(sel);
            }
            for (const Ref& box : d.allowBoxes)
                if (!hasState(box.get(), ATSPI_STATE_CHECKED))
                    what += act(box.get()) ? " allowed;" : " allowing failed;";
            if (!hasState(d.share.get(), ATSPI_STATE_SENSITIVE)) {
                what += " Share not yet sensitive";
            } else if (act(d.share.get())) {
                what += " Share pressed";
                ++answered_;
                answeredDialogs_.emplace_back(g_object_ref(frame.get()), g_object_unref);
            } else {
                what += " Share did not take the press";
            }
            std::lock_guard g(m_);
            if (seen_.size() < what.size() || seen_.compare(seen_.size() - what.size(), what.size(), what) != 0)
                seen_ += (seen_.empty() ? "" : " / ") + what;
        }
    }
}

}  // namespace tavik::test
