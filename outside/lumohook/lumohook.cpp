// The AT-SPI 2 listener behind StartMSAAThread / EndMSAAThread: a thread
// running the accessibility event loop; focus and caret-moved events become
// focus records (the window is the one in front when it belongs to the
// event's process).
#include "outside/lumohook/lumohook.h"

#include <atspi/atspi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "outside/lumohook/focus_records.h"
#include "platform/desktop/desktop.h"
#include "screenviewer/sections.h"

namespace {

struct Listener {
    std::optional<lumo::HookSection> hook;
    tavik::desktop::Desktop desk;
    std::thread thread;
    std::atomic<bool> running{false};
    std::atomic<int> started{0};  // 1 running, -1 failed
    std::atomic<bool> abandoned{false};  // the starter gave up waiting: end at once
    AtspiAccessible* focused = nullptr;  // the last object that took the focus (listener thread only)
    int lastOffset = -1;
    GMainLoop* loop = nullptr;
    AtspiEventListener* focus = nullptr;
    AtspiEventListener* caret = nullptr;
};

std::mutex gMutex;
std::unique_ptr<Listener> gListener;  // the library's one listener

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
    if (caret) {
        if (AtspiText* text = atspi_accessible_get_text_iface(source)) {
            if (AtspiRect* r = atspi_text_get_character_extents(text, offset, ATSPI_COORD_TYPE_SCREEN, &err)) {
                e.screenX = r->x;
                e.screenY = r->y;
                placed = r->width >= 0 && r->height >= 0;
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
                e.screenX = p->x;
                e.screenY = p->y;
                placed = true;
                g_free(p);
            }
            g_clear_error(&err);
            g_object_unref(c);
        }
    }
    if (!placed) return;
    // The window: the one in front, when it belongs to the event's process.
    if (auto active = l->desk.activeWindow(); active && *active) {
        if (l->desk.windowProcess(*active) == e.process) {
            e.window = *active;
            if (auto client = l->desk.clientRect(*active)) {
                e.clientX = e.screenX - client->left;
                e.clientY = e.screenY - client->top;
            }
        }
    }
    lumohook::recordEvent(l->hook->data(), e);
}

void onEvent(AtspiEvent* event, void* data) {
    auto* l = static_cast<Listener*>(data);
    if (std::getenv("LUMOHOOK_TRACE"))
        std::fprintf(stderr, "LumoHook: %s %d\n", event && event->type ? event->type : "?", event ? event->detail1 : -1);
    if (!event || !event->source || !l->hook) return;
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
gboolean pollCaret(void* data) {
    auto* l = static_cast<Listener*>(data);
    if (!l->focused || !l->hook) return G_SOURCE_CONTINUE;
    AtspiText* text = atspi_accessible_get_text_iface(l->focused);
    if (!text) return G_SOURCE_CONTINUE;
    GError* err = nullptr;
    const gint offset = atspi_text_get_caret_offset(text, &err);
    g_object_unref(text);
    if (err) {
        g_clear_error(&err);
        return G_SOURCE_CONTINUE;
    }
    if (offset >= 0 && offset != l->lastOffset) {
        l->lastOffset = offset;
        record(l, l->focused, true, offset);
    }
    return G_SOURCE_CONTINUE;
}

bool busAvailable() {
    return std::getenv("AT_SPI_BUS_ADDRESS") != nullptr || std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr;
}

}  // namespace

extern "C" TAVIK_API int StartMSAAThread(void*) {
    std::lock_guard lock(gMutex);
    if (gListener) return 1;
    if (!busAvailable()) {
        std::fputs("LumoHook: no accessibility bus; focus and caret are not followed.\n", stderr);
        return 0;
    }
    auto l = std::make_unique<Listener>();
    l->hook = lumo::HookSection::openOrCreate();
    if (!l->hook) return 0;
    Listener* raw = l.get();
    std::atomic<int>& started = raw->started;
    l->thread = std::thread([raw] {
        std::atomic<int>& started = raw->started;
        GMainContext* ctx = g_main_context_new();
        g_main_context_push_thread_default(ctx);
        // Every AT-SPI call and event of this library runs on this thread's own context, never
        // on the program's default context (which the program's toolkit may run).
        const int init = atspi_init();
        if (init == 0 || init == 1) atspi_set_main_context(ctx);
        if (init > 1) {
            started = -1;
            g_main_context_pop_thread_default(ctx);
            g_main_context_unref(ctx);
            return;
        }
        raw->focus = atspi_event_listener_new(onEvent, raw, nullptr);
        raw->caret = atspi_event_listener_new(onEvent, raw, nullptr);
        GError* err = nullptr;
        const bool ok = atspi_event_listener_register(raw->focus, "object:state-changed:focused", &err) &&
                        atspi_event_listener_register(raw->caret, "object:text-caret-moved", &err);
        g_clear_error(&err);
        if (!ok || raw->abandoned.load()) {
            started = -1;
        } else {
            raw->loop = g_main_loop_new(ctx, FALSE);
            GSource* poll = g_timeout_source_new(100);
            g_source_set_callback(poll, pollCaret, raw, nullptr);
            g_source_attach(poll, ctx);
            raw->running = true;
            started = 1;
            g_main_loop_run(raw->loop);
            raw->running = false;
            g_source_destroy(poll);
            g_source_unref(poll);
            g_main_loop_unref(raw->loop);
            if (raw->focused) g_object_unref(raw->focused);
            raw->focused = nullptr;
        }
        atspi_event_listener_deregister(raw->focus, "object:state-changed:focused", nullptr);
        atspi_event_listener_deregister(raw->caret, "object:text-caret-moved", nullptr);
        g_object_unref(raw->focus);
        g_object_unref(raw->caret);
        g_main_context_pop_thread_default(ctx);
        g_main_context_unref(ctx);
    });
    for (int i = 0; i < 300 && started.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (started.load() != 1) {
        std::fputs("LumoHook: the accessibility bus does not answer; focus and caret are not followed.\n", stderr);
        if (started.load() == 1) {
            g_main_loop_quit(raw->loop);
            l->thread.join();
        } else if (started.load() == -1) {
            l->thread.join();
        } else {
            // Still connecting: it ends by itself once the bus answers or fails. The library is
            // never unloaded (the viewer opens it with RTLD_NODELETE), so the thread may outlive us.
            raw->abandoned = true;
            l->thread.detach();
            l.release();
        }
        return 0;
    }
    gListener = std::move(l);
    return 1;
}

extern "C" TAVIK_API int EndMSAAThread(void) {
    std::unique_ptr<Listener> l;
    {
        std::lock_guard lock(gMutex);
        l = std::move(gListener);
    }
    if (!l) return 1;
    if (l->loop) g_main_loop_quit(l->loop);
    if (l->thread.joinable()) l->thread.join();
    return 1;
}
