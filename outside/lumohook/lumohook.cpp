// The AT-SPI 2 listener behind StartMSAAThread / EndMSAAThread: focus and caret-moved events on
// the process's shared accessibility thread become focus records (the window is the one in
// front when it belongs to the event's process).
#include "outside/lumohook/lumohook.h"

#include <atspi/atspi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>

#include "outside/lumohook/focus_records.h"
#include "platform/atspi/accessibility_switch.h"
#include "platform/atspi/atspi_hub.h"
#include "platform/desktop/desktop.h"
#include "screenviewer/sections.h"

namespace {

// What the handlers use. They hold it themselves, so it lives as long as any of them may still
// run, also past EndMSAAThread when the accessibility thread is held up by an application.
struct Listener {
    std::optional<lumo::HookSection> hook;
    tavik::desktop::Desktop desk;
    // Accessibility thread only.
    AtspiAccessible* focused = nullptr;  // the last object that took the focus (cleared by stop())
    int lastOffset = -1;
};

// The running listener: its registrations on the hub.
struct Running {
    // Applications publish focus and caret only while the session's accessibility is on: on
    // while the listener runs, back off at its end when it was off before.
    std::optional<tavik::atspi::AccessibilitySwitch> accessibility;
    std::shared_ptr<Listener> listener;
    std::shared_ptr<tavik::atspi::Hub> hub;
    int focusToken = 0, caretToken = 0, pollToken = 0;
};

std::mutex gMutex;
std::unique_ptr<Running> gRunning;  // the library's one listener

// The extents of `source`'s top-level (the ancestor right below the application) in
// `ATSPI_COORD_TYPE_SCREEN`, the coordinates the caret and focus positions are read in; nullopt
// when the tree or the top-level's component cannot be read. The walk up is bounded: the tree
// comes from the application and may loop.
std::optional<tavik::desktop::Rect> topLevelExtents(AtspiAccessible* source) {
    constexpr int kMaxDepth = 64;
    GError* err = nullptr;
    AtspiAccessible* node = ATSPI_ACCESSIBLE(g_object_ref(source));
    bool found = false;
    for (int depth = 0; depth < kMaxDepth && !found; ++depth) {
        AtspiAccessible* parent = atspi_accessible_get_parent(node, &err);
        if (err || !parent) {
            g_clear_error(&err);
            if (parent) g_object_unref(parent);
            break;
        }
        const AtspiRole role = atspi_accessible_get_role(parent, &err);
        if (err) {
            g_clear_error(&err);
            g_object_unref(parent);
            break;
        }
        if (role == ATSPI_ROLE_APPLICATION) {
            found = true;
            g_object_unref(parent);
        } else {
            g_object_unref(node);
            node = parent;
        }
    }
    std::optional<tavik::desktop::Rect> extents;
    if (found) {
        if (AtspiComponent* c = atspi_accessible_get_component_iface(node)) {
            if (AtspiRect* r = atspi_component_get_extents(c, ATSPI_COORD_TYPE_SCREEN, &err)) {
                if (!err && r->width > 0 && r->height > 0) extents = tavik::desktop::Rect{r->x, r->y, r->width, r->height};
                g_free(r);
            }
            g_clear_error(&err);
            g_object_unref(c);
        }
    }
    g_object_unref(node);
    return extents;
}

// Records the caret (at `offset`) or the focus of `source`.
void record(Listener* l, AtspiAccessible* source, bool caret, int offset) {
    GError* err = nullptr;
    lumohook::FocusEvent e;
    e.process = static_cast<int32_t>(atspi_accessible_get_process_id(source, &err));
    if (err) {
        g_clear_error(&err);
        return;
    }
    e.caret = caret;
    bool placed = false;
    int32_t x = 0, y = 0;  // in the accessibility coordinates (the toolkit's own on Wayland)
    if (caret) {
        if (AtspiText* text = atspi_accessible_get_text_iface(source)) {
            if (AtspiRect* r = atspi_text_get_character_extents(text, offset, ATSPI_COORD_TYPE_SCREEN, &err)) {
                x = r->x;
                y = r->y;
                placed = !err && r->width >= 0 && r->height >= 0;
                g_free(r);
            }
            g_clear_error(&err);
            g_object_unref(text);
        }
        e.caret = placed;
    }
    if (!placed) {
        if (AtspiComponent* c = atspi_accessible_get_component_iface(source)) {
            if (AtspiPoint* p = atspi_component_get_position(c, ATSPI_COORD_TYPE_SCREEN, &err)) {
                x = p->x;
                y = p->y;
                placed = !err;
                g_free(p);
            }
            g_clear_error(&err);
            g_object_unref(c);
        }
    }
    if (!placed) return;
    // The window: the one in front, when it belongs to the event's process. Its place on the
    // screen comes from the desktop layer; the point's place inside it from the toolkit.
    lumohook::WindowFrames frames;
    if (auto active = l->desk.activeWindow(); active && *active) {
        if (l->desk.windowProcess(*active) == e.process) {
            e.window = *active;
            frames.client = l->desk.clientRect(*active);
            if (frames.client) {
                frames.outer = l->desk.windowRect(*active);
                frames.accessible = topLevelExtents(source);
            }
        }
    }
    const lumohook::PlacedPoint at = lumohook::placePoint(x, y, frames);
    e.screenX = at.screenX;
    e.screenY = at.screenY;
    e.clientX = at.clientX;
    e.clientY = at.clientY;
    lumohook::recordEvent(l->hook->data(), e);
}

void onEvent(Listener* l, const AtspiEvent& ev) {
    const AtspiEvent* event = &ev;
    if (std::getenv("LUMOHOOK_TRACE"))
        std::fprintf(stderr, "LumoHook: %s %d\n", event->type ? event->type : "?", event->detail1);
    if (!event->source || !l->hook) return;
    const bool caret = event->type && g_str_has_prefix(event->type, "object:text-caret-moved");
    if (!caret && event->detail1 == 0) return;  // focus lost
    if (!caret) {
        // The focused object: its caret is also looked at every 100 ms (below).
        if (l->focused) g_object_unref(l->focused);
        l->focused = ATSPI_ACCESSIBLE(g_object_ref(event->source));
        l->lastOffset = -1;
    } else if (event->source == l->focused) {
        l->lastOffset = event->detail1;
    }
    record(l, event->source, caret, event->detail1);
}

// The caret of the focused object, as the window system's "GUI thread info" would give it:
// read every 100 ms, recorded when it moved (applications do not always send caret events).
void pollCaret(Listener* l) {
    if (!l->focused || !l->hook) return;
    // A reference of its own: while a call waits for its answer, events are handled, and a new
    // focus drops the listener's.
    AtspiAccessible* focused = ATSPI_ACCESSIBLE(g_object_ref(l->focused));
    AtspiText* text = atspi_accessible_get_text_iface(focused);
    if (!text) {
        g_object_unref(focused);
        return;
    }
    GError* err = nullptr;
    const gint offset = atspi_text_get_caret_offset(text, &err);
    g_object_unref(text);
    if (err) {
        g_clear_error(&err);
    } else if (offset >= 0 && offset != l->lastOffset && focused == l->focused) {
        l->lastOffset = offset;
        record(l, focused, true, offset);
    }
    g_object_unref(focused);
}

bool busAvailable() {
    return std::getenv("AT_SPI_BUS_ADDRESS") != nullptr || std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr;
}

// How long the end waits for the accessibility thread. An application that does not answer
// holds that thread for seconds; the registrations then end as soon as it gets to them.
constexpr int kEndBoundMs = 100;

// Ends the listener's registrations; once the accessibility thread has run the removal, no
// handler of it runs.
void stop(Running& r) {
    if (!r.hub) return;
    // Posted without waiting; on a thread that is held up, nothing waits for it twice.
    for (int t : {r.focusToken, r.caretToken, r.pollToken}) r.hub->remove(t, 0);
    r.hub->run(
        [l = r.listener] {
            if (l->focused) g_object_unref(l->focused);
            l->focused = nullptr;
        },
        kEndBoundMs);
    r.hub.reset();
}

}  // namespace

TAVIK_API int StartMSAAThread(void*) {
    std::lock_guard lock(gMutex);
    if (gRunning) return 1;
    if (!busAvailable()) {
        std::fputs("LumoHook: no accessibility bus; focus and caret are not followed.\n", stderr);
        return 0;
    }
    auto r = std::make_unique<Running>();
    r->listener = std::make_shared<Listener>();
    r->listener->hook = lumo::HookSection::openOrCreate();
    if (!r->listener->hook) return 0;
    r->accessibility.emplace();
    r->hub = tavik::atspi::Hub::acquire();
    if (r->hub) {
        std::shared_ptr<Listener> l = r->listener;
        auto handler = [l](const AtspiEvent& e) { onEvent(l.get(), e); };
        // A thread held up by an application, or a registry a busy machine is still starting,
        // does not hold the viewer's start up for long: a registration that is late is kept and
        // made when the thread gets to it, so focus and caret are followed from then on.
        constexpr int kStartBoundMs = 1000;
        using Late = tavik::atspi::Hub::Late;
        r->focusToken = r->hub->listen("object:state-changed:focused", handler, kStartBoundMs, Late::Keep);
        r->caretToken = r->hub->listen("object:text-caret-moved", handler, kStartBoundMs, Late::Keep);
        if (r->focusToken && r->caretToken)
            r->pollToken = r->hub->every(100, [l] { pollCaret(l.get()); }, kStartBoundMs, Late::Keep);
    }
    if (!r->hub || !r->pollToken) {
        std::fputs("LumoHook: the accessibility bus does not answer; focus and caret are not followed.\n", stderr);
        stop(*r);
        return 0;
    }
    gRunning = std::move(r);
    return 1;
}

TAVIK_API int EndMSAAThread(void) {
    std::unique_ptr<Running> r;
    {
        std::lock_guard lock(gMutex);
        r = std::move(gRunning);
    }
    if (r) stop(*r);
    return 1;
}
