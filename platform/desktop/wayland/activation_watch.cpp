// The activation watch: a thread that keeps a compositor connection with the toplevel list
// (opened again a second after a loss), an AT-SPI listener on the process's hub and the change
// signal of the session's window facts.
#include "platform/desktop/wayland/activation_watch.h"

#include <wayland-client.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/atspi/atspi_hub.h"
#include "platform/desktop/wayland/facts_source.h"
#include "platform/desktop/wayland/wl_connection.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace tavik::desktop::wayland {

struct ActivationWatch::Shared {
    std::function<void()> changed;
    std::atomic<bool> stop{false};
    std::mutex hubMutex;  // hub, token and facts, set by the thread, ended by the destructor
    std::shared_ptr<atspi::Hub> hub;
    int token = 0;
    std::unique_ptr<WindowFacts> facts;
    std::unique_ptr<FactsWatch> factsWatch;
};

namespace {

// One toplevel of the watch's list: only whether it is activated matters.
struct Entry {
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    bool pending = false;
    bool activated = false;
    bool closed = false;
    bool* dirty = nullptr;  // set when the activated state changed
};

void onTitle(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
void onAppId(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void onState(void* d, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
    auto* e = static_cast<Entry*>(d);
    e->pending = false;
    const size_t n = states ? states->size / sizeof(uint32_t) : 0;
    for (size_t i = 0; i < n; ++i) {
        uint32_t s = 0;
        std::memcpy(&s, static_cast<const char*>(states->data) + i * sizeof(uint32_t), sizeof s);
        if (s == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) e->pending = true;
    }
}
void onDone(void* d, zwlr_foreign_toplevel_handle_v1*) {
    auto* e = static_cast<Entry*>(d);
    if (e->pending != e->activated) *e->dirty = true;
    e->activated = e->pending;
}
void onClosed(void* d, zwlr_foreign_toplevel_handle_v1*) {
    auto* e = static_cast<Entry*>(d);
    if (e->activated) *e->dirty = true;
    e->closed = true;
}
const zwlr_foreign_toplevel_handle_v1_listener kEntryListener = {onTitle, onAppId, onOutput, onOutput,
                                                                 onState, onDone,  onClosed};

// The toplevel list on one connection.
struct List {
    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    std::vector<std::unique_ptr<Entry>> entries;
    bool dirty = false;
    bool finished = false;

    ~List() {
        for (auto& e : entries) zwlr_foreign_toplevel_handle_v1_destroy(e->handle);
        if (manager) {
            if (!finished) zwlr_foreign_toplevel_manager_v1_stop(manager);
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(manager));
        }
    }
    void dropClosed() {
        for (auto it = entries.begin(); it != entries.end();) {
            if ((*it)->closed) {
                zwlr_foreign_toplevel_handle_v1_destroy((*it)->handle);
                it = entries.erase(it);
            } else {
                ++it;
            }
        }
    }
};

void onToplevel(void* d, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* h) {
    auto* list = static_cast<List*>(d);
    auto e = std::make_unique<Entry>();
    e->handle = h;
    e->dirty = &list->dirty;
    zwlr_foreign_toplevel_handle_v1_add_listener(h, &kEntryListener, e.get());
    list->entries.push_back(std::move(e));
}
void onFinished(void* d, zwlr_foreign_toplevel_manager_v1*) { static_cast<List*>(d)->finished = true; }
const zwlr_foreign_toplevel_manager_v1_listener kListListener = {onToplevel, onFinished};

constexpr int kSliceMs = 100;  // how soon the thread sees a stop

}  // namespace

ActivationWatch::ActivationWatch(std::function<void()> changed) : shared_(std::make_shared<Shared>()) {
    shared_->changed = std::move(changed);
    thread_ = std::thread([this] { run(); });
}

ActivationWatch::~ActivationWatch() {
    shared_->stop = true;
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(shared_->hubMutex);
    if (shared_->hub && shared_->token) shared_->hub->remove(shared_->token);  // no handler runs after this
    shared_->hub.reset();
    shared_->factsWatch.reset();  // likewise
    shared_->facts.reset();
}

void ActivationWatch::run() {
    Shared& s = *shared_;
    // AT-SPI first: it tells of windows on desktops without a toplevel list, too.
    if (auto hub = atspi::Hub::acquire()) {
        std::weak_ptr<Shared> weak = shared_;
        const int token = hub->listen("window:activate", [weak](const AtspiEvent&) {
            if (auto sh = weak.lock(); sh && !sh->stop) sh->changed();
        });
        std::lock_guard lock(s.hubMutex);
        s.hub = std::move(hub);
        s.token = token;
    }
    // The compositor's own signal where its facts channel has one (GNOME, KDE).
    if (auto facts = openWindowFacts()) {
        std::weak_ptr<Shared> weak = shared_;
        auto watch = facts->watch([weak] {
            if (auto sh = weak.lock(); sh && !sh->stop) sh->changed();
        });
        std::lock_guard lock(s.hubMutex);
        s.facts = std::move(facts);
        s.factsWatch = std::move(watch);
    }
    using Clock = std::chrono::steady_clock;
    auto nextTry = Clock::now();
    while (!s.stop) {
        if (Clock::now() < nextTry) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
            continue;
        }
        nextTry = Clock::now() + std::chrono::seconds(1);
        auto conn = WlConnection::open({}, 3000);
        if (!conn) continue;
        {
            List list;
            list.manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
                conn->bind(&zwlr_foreign_toplevel_manager_v1_interface, 2));
            if (!list.manager) return;  // the compositor has no list: AT-SPI alone reports
            zwlr_foreign_toplevel_manager_v1_add_listener(list.manager, &kListListener, &list);
            conn->roundtrip(3000);
            list.dirty = false;
            if (!s.stop) s.changed();  // up (again): the window in front may be another now
            while (!s.stop && !conn->lost() && !list.finished) {
                conn->waitFor([&] { return list.dirty || s.stop.load(); }, kSliceMs);
                list.dropClosed();
                if (list.dirty && !s.stop) {
                    list.dirty = false;
                    s.changed();
                }
            }
            if (list.finished) return;
        }
        nextTry = Clock::now() + std::chrono::seconds(1);
    }
}

}  // namespace tavik::desktop::wayland
