// The shared AT-SPI event thread: start (bounded), listeners and ticks kept in one table on the
// thread, cross-thread calls through the thread's main context.
#include "platform/atspi/atspi_hub.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace tavik::atspi {

struct Hub::State {
    std::mutex m;
    std::condition_variable cv;
    int started = 0;  // 1 running, -1 failed
    GMainContext* ctx = nullptr;
    GMainLoop* loop = nullptr;
    std::thread::id threadId;
    std::thread thread;

    // Hub thread only.
    struct Entry {
        std::string type;  // empty for ticks
        AtspiEventListener* listener = nullptr;
        GSource* source = nullptr;
        std::shared_ptr<Handler> handler;
        std::shared_ptr<std::function<void()>> tick;
    };
    std::map<int, Entry> entries;
    int nextToken = 1;

    ~State() {
        if (thread.joinable()) thread.detach();  // only a start nobody waits for any more
        if (ctx) g_main_context_unref(ctx);
    }
};

namespace {

// Who holds the process's hub. A program and the modules it loads may each link a copy of this
// library, yet the accessibility library they share keeps one connection and one event context:
// so every copy uses the registry of the first one, found through a type registered by name
// with GLib (one type system per process). Registering the name is the atomic step: the copy
// that registers it publishes its registry; the others wait for it.
struct Registry {
    std::mutex m;
    std::weak_ptr<Hub> hub;                  // the process's hub while someone holds it
    std::shared_ptr<Hub::State> starting;    // a start that timed out and may still finish
};

Registry& registry() {
    static Registry* const r = [] {
        constexpr const char* kName = "TavikAtspiHubRegistry";
        const GQuark key = g_quark_from_static_string("tavik-atspi-hub-registry");
        GType type = g_type_from_name(kName);
        if (type == 0) {
            const GType mine = g_type_register_static_simple(G_TYPE_OBJECT, kName, sizeof(GObjectClass), nullptr,
                                                             sizeof(GObject), nullptr, GTypeFlags{});
            if (mine != 0) {
                auto* own = new Registry;  // lives as long as the process
                g_type_set_qdata(mine, key, own);
                return own;
            }
            type = g_type_from_name(kName);
        }
        for (int i = 0; i < 2000; ++i) {
            if (void* other = g_type_get_qdata(type, key)) return static_cast<Registry*>(other);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return new Registry;  // the registering copy never published: go alone
    }();
    return *r;
}

// The callbacks hold their own reference for the call, so a handler that removes itself (which
// frees the registration's reference) keeps running on a live object.
void onEvent(AtspiEvent* event, void* data) {
    std::shared_ptr<Hub::Handler> keep = *static_cast<std::shared_ptr<Hub::Handler>*>(data);
    if (event && keep && *keep) (*keep)(*event);
}

gboolean onTick(void* data) {
    std::shared_ptr<std::function<void()>> keep = *static_cast<std::shared_ptr<std::function<void()>>*>(data);
    if (keep && *keep) (*keep)();
    return G_SOURCE_CONTINUE;
}

void threadMain(std::shared_ptr<Hub::State> s) {
    GMainContext* ctx = g_main_context_new();
    g_main_context_push_thread_default(ctx);
    // Every AT-SPI call and event runs on this context, never on the program's default one
    // (which the program's toolkit may run).
    const int init = atspi_init();
    if (init == 0 || init == 1) atspi_set_main_context(ctx);
    GMainLoop* loop = init > 1 ? nullptr : g_main_loop_new(ctx, FALSE);
    {
        std::lock_guard lock(s->m);
        s->ctx = ctx;
        s->loop = loop;
        s->threadId = std::this_thread::get_id();
        s->started = loop ? 1 : -1;
    }
    s->cv.notify_all();
    if (s->started == 1) g_main_loop_run(loop);
    for (auto& [token, e] : s->entries) {
        if (e.listener) {
            atspi_event_listener_deregister(e.listener, e.type.c_str(), nullptr);
            g_object_unref(e.listener);
        }
        if (e.source) {
            g_source_destroy(e.source);
            g_source_unref(e.source);
        }
    }
    s->entries.clear();
    if (loop) g_main_loop_unref(loop);
    g_main_context_pop_thread_default(ctx);
    std::lock_guard lock(s->m);
    s->loop = nullptr;
    // The context stays referenced by `s` (run() may still post to it); freed with the state.
}

}  // namespace

std::shared_ptr<Hub> Hub::acquire() {
    Registry& reg = registry();
    std::lock_guard lock(reg.m);
    if (auto h = reg.hub.lock()) return h;
    if (!std::getenv("AT_SPI_BUS_ADDRESS") && !std::getenv("DBUS_SESSION_BUS_ADDRESS")) return nullptr;
    std::shared_ptr<State> s = reg.starting;
    if (!s) {
        s = std::make_shared<State>();
        s->thread = std::thread(threadMain, s);
    }
    std::unique_lock sl(s->m);
    if (!s->cv.wait_for(sl, std::chrono::seconds(3), [&] { return s->started != 0; })) {
        reg.starting = s;  // still connecting: a later acquire() waits for the same start
        return nullptr;
    }
    reg.starting.reset();
    if (s->started != 1) {
        sl.unlock();
        if (s->thread.joinable()) s->thread.join();
        return nullptr;
    }
    sl.unlock();
    std::shared_ptr<Hub> h(new Hub(s));
    reg.hub = h;
    return h;
}

Hub::~Hub() {
    GMainLoop* loop = nullptr;
    {
        std::lock_guard lock(s_->m);
        loop = s_->loop;
    }
    if (loop) g_main_loop_quit(loop);
    if (s_->thread.joinable()) {
        if (s_->threadId == std::this_thread::get_id())
            s_->thread.detach();  // the last holder let go from a handler: the thread ends by itself
        else
            s_->thread.join();
    }
}

namespace {
struct Task {
    std::function<void()> fn;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
};
gboolean runTask(void* data) {
    auto* task = static_cast<std::shared_ptr<Task>*>(data);
    (*task)->fn();
    {
        std::lock_guard lock((*task)->m);
        (*task)->done = true;
    }
    (*task)->cv.notify_all();
    return G_SOURCE_REMOVE;
}
void freeTask(void* data) { delete static_cast<std::shared_ptr<Task>*>(data); }
}  // namespace

bool Hub::run(std::function<void()> fn, int timeoutMs) {
    if (s_->threadId == std::this_thread::get_id()) {
        fn();
        return true;
    }
    auto task = std::make_shared<Task>();
    task->fn = std::move(fn);
    {
        std::lock_guard lock(s_->m);
        if (!s_->loop) return false;
        g_main_context_invoke_full(s_->ctx, G_PRIORITY_DEFAULT, runTask, new std::shared_ptr<Task>(task), freeTask);
    }
    std::unique_lock lock(task->m);
    return task->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return task->done; });
}

int Hub::listen(const std::string& eventType, Handler handler) {
    auto shared = std::make_shared<Handler>(std::move(handler));
    auto s = s_;
    auto token = std::make_shared<int>(0);
    run([s, eventType, shared, token] {
        auto* data = new std::shared_ptr<Handler>(shared);
        AtspiEventListener* l = atspi_event_listener_new(
            onEvent, data, [](void* d) { delete static_cast<std::shared_ptr<Handler>*>(d); });
        GError* err = nullptr;
        if (!atspi_event_listener_register(l, eventType.c_str(), &err)) {
            g_clear_error(&err);
            g_object_unref(l);
            return;
        }
        const int t = s->nextToken++;
        s->entries[t] = State::Entry{eventType, l, nullptr, shared, nullptr};
        *token = t;
    });
    return *token;
}

int Hub::every(unsigned ms, std::function<void()> tick) {
    auto shared = std::make_shared<std::function<void()>>(std::move(tick));
    auto s = s_;
    auto token = std::make_shared<int>(0);
    run([s, ms, shared, token] {
        GSource* src = g_timeout_source_new(ms < 10 ? 10 : ms);
        g_source_set_callback(src, onTick, new std::shared_ptr<std::function<void()>>(shared),
                              [](void* d) { delete static_cast<std::shared_ptr<std::function<void()>>*>(d); });
        g_source_attach(src, s->ctx);
        const int t = s->nextToken++;
        s->entries[t] = State::Entry{{}, nullptr, src, nullptr, shared};
        *token = t;
    });
    return *token;
}

void Hub::remove(int token) {
    if (token == 0) return;
    auto s = s_;
    run([s, token] {
        auto it = s->entries.find(token);
        if (it == s->entries.end()) return;
        State::Entry& e = it->second;
        // Dropping the registration frees its reference; a handler running right now (removing
        // itself) holds its own until it returns, and is never called again.
        if (e.listener) {
            atspi_event_listener_deregister(e.listener, e.type.c_str(), nullptr);
            g_object_unref(e.listener);
        }
        if (e.source) {
            g_source_destroy(e.source);
            g_source_unref(e.source);
        }
        s->entries.erase(it);
    });
}

}  // namespace tavik::atspi
