// The shared AT-SPI event thread: start (bounded), listeners and ticks kept in one table on the
// thread, cross-thread calls through the thread's main context.
#include "platform/atspi/atspi_hub.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <set>
#include <mutex>
#include <thread>

namespace tavik::atspi {

struct Hub::State {
    std::mutex m;
    std::condition_variable cv;
    int started = 0;  // 1 running, -1 failed
    bool finished = false;  // the thread has left its loop and released its entries
    bool stalled = false;   // a run() timed out and the thread has not taken a task since
    int nextToken = 1;
    GMainContext* ctx = nullptr;
    GMainLoop* loop = nullptr;
    std::thread::id threadId;
    std::thread thread;

    // Hub thread only.
    struct Entry {
        std::string type;  // empty for ticks
        AtspiEventListener* listener = nullptr;
        GSource* source = nullptr;
        // The listener's data (what the callback reads the handler from). Freed here, after
        // the deregistration: the accessibility library never calls a listener's destroy
        // notification, so what the data holds would otherwise stay for the life of the process.
        std::unique_ptr<std::shared_ptr<Handler>> data;
        std::shared_ptr<Handler> handler;
        std::shared_ptr<std::function<void()>> tick;
    };
    std::map<int, Entry> entries;
    std::set<int> cancelled;  // tokens removed before their registration ran
    bool closing = false;     // the loop has ended: nothing registers any more

    // Hub thread only: ends the registration `token` (or the one still to come under it).
    void drop(int token) {
        auto it = entries.find(token);
        if (it == entries.end()) {
            cancelled.insert(token);
            return;
        }
        release(it->second);
        entries.erase(it);
    }
    // Dropping the registration frees its reference; a handler running right now (removing
    // itself) holds its own until it returns, and is never called again.
    static void release(Entry& e) {
        if (e.listener) {
            atspi_event_listener_deregister(e.listener, e.type.c_str(), nullptr);
            g_object_unref(e.listener);
            e.listener = nullptr;
        }
        if (e.source) {
            g_source_destroy(e.source);
            g_source_unref(e.source);
            e.source = nullptr;
        }
        e.data.reset();
        e.handler.reset();
        e.tick.reset();
    }

    ~State() {
        if (thread.joinable()) thread.detach();  // a start nobody waits for, or a thread held up at the end
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

constexpr int kStartTries = 20;
constexpr auto kStartRetry = std::chrono::milliseconds(100);

void threadMain(std::shared_ptr<Hub::State> s) {
    GMainContext* ctx = g_main_context_new();
    g_main_context_push_thread_default(ctx);
    // Every AT-SPI call and event runs on this context, never on the program's default one
    // (which the program's toolkit may run).
    int init = atspi_init();
    // At a session's start the accessibility bus's launcher may not answer yet (the viewer is
    // often started beside it). The library gives up at once and then only reports itself
    // started, so it is reset and asked again for a while (within acquire()'s wait).
    if (init > 1) {
        // The library's warning was given once; the retries are quiet.
        const guint quiet = g_log_set_handler("dbind", GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_FLAG_RECURSION),
                                              [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
        for (int tries = 0; init > 1 && tries < kStartTries; ++tries) {
            atspi_exit();
            std::this_thread::sleep_for(kStartRetry);
            init = atspi_init();
        }
        g_log_remove_handler("dbind", quiet);
    }
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
    {
        std::lock_guard lock(s->m);
        s->loop = nullptr;  // nothing is posted from now on
    }
    s->closing = true;
    for (auto& [token, e] : s->entries) Hub::State::release(e);
    s->entries.clear();
    // Tasks posted before the end run now (a late registration is refused above), so that
    // nothing they hold stays behind in the context.
    while (g_main_context_iteration(ctx, FALSE)) {
    }
    if (loop) g_main_loop_unref(loop);
    g_main_context_pop_thread_default(ctx);
    {
        std::lock_guard lock(s->m);
        s->finished = true;
    }
    s->cv.notify_all();
    // The context stays referenced by `s`; freed with the state.
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
    std::unique_lock lock(s_->m);
    if (s_->loop) g_main_loop_quit(s_->loop);
    if (!s_->thread.joinable()) return;
    if (s_->threadId == std::this_thread::get_id()) {
        s_->thread.detach();  // the last holder let go from a handler: the thread ends by itself
        return;
    }
    // A thread held up in a call to an application that does not answer ends by itself once the
    // call times out: it holds the state it uses.
    if (s_->cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return s_->finished; })) {
        lock.unlock();
        s_->thread.join();
    } else {
        s_->thread.detach();
    }
}

namespace {
struct Task {
    std::function<void()> fn;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
};
gboolean runFunction(void* data) {
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}
void freeFunction(void* data) { delete static_cast<std::function<void()>*>(data); }
}  // namespace

void Hub::post(std::function<void()> fn) {
    auto s = s_;
    if (s->threadId == std::this_thread::get_id()) {
        fn();  // as the context would do for its own thread (and without the lock it takes)
        return;
    }
    std::lock_guard lock(s->m);
    if (!s->loop) return;
    auto* call = new std::function<void()>([s, fn = std::move(fn)] {
        {
            std::lock_guard l(s->m);
            s->stalled = false;  // the thread takes tasks again
        }
        fn();
    });
    g_main_context_invoke_full(s->ctx, G_PRIORITY_DEFAULT, runFunction, call, freeFunction);
}

bool Hub::run(std::function<void()> fn, int timeoutMs) {
    if (s_->threadId == std::this_thread::get_id()) {
        fn();
        return true;
    }
    auto task = std::make_shared<Task>();
    task->fn = std::move(fn);
    bool wait = false;
    {
        std::lock_guard lock(s_->m);
        if (!s_->loop) return false;
        wait = !s_->stalled && timeoutMs > 0;
    }
    post([task] {
        task->fn();
        task->fn = nullptr;  // what it held goes now, on this thread
        {
            std::lock_guard lock(task->m);
            task->done = true;
        }
        task->cv.notify_all();
    });
    std::unique_lock lock(task->m);
    if (!wait) return task->done;
    if (task->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return task->done; })) return true;
    lock.unlock();
    std::lock_guard sl(s_->m);
    s_->stalled = true;
    return false;
}

int Hub::listen(const std::string& eventType, Handler handler, int timeoutMs, Late late) {
    auto shared = std::make_shared<Handler>(std::move(handler));
    auto s = s_;
    int token = 0;
    {
        std::lock_guard lock(s->m);
        if (!s->loop) return 0;
        token = s->nextToken++;
    }
    auto ok = std::make_shared<std::atomic<bool>>(false);
    const bool answered = run(
        [s, eventType, shared, token, ok] {
            if (s->closing || s->cancelled.erase(token)) return;
            auto data = std::make_unique<std::shared_ptr<Handler>>(shared);
            AtspiEventListener* l = atspi_event_listener_new(onEvent, data.get(), nullptr);
            GError* err = nullptr;
            if (!atspi_event_listener_register(l, eventType.c_str(), &err)) {
                g_clear_error(&err);
                g_object_unref(l);
                return;
            }
            s->entries[token] = State::Entry{eventType, l, nullptr, std::move(data), shared, nullptr};
            *ok = true;
        },
        timeoutMs);
    if (!answered) {
        if (late == Late::Keep) return token;  // made when the thread gets to it
        post([s, token] { s->drop(token); });  // the caller was told it failed: undo it
        return 0;
    }
    return ok->load() ? token : 0;
}

int Hub::every(unsigned ms, std::function<void()> tick, int timeoutMs, Late late) {
    auto shared = std::make_shared<std::function<void()>>(std::move(tick));
    auto s = s_;
    int token = 0;
    {
        std::lock_guard lock(s->m);
        if (!s->loop) return 0;
        token = s->nextToken++;
    }
    const bool answered = run(
        [s, ms, shared, token] {
            if (s->closing || s->cancelled.erase(token)) return;
            GSource* src = g_timeout_source_new(ms < 10 ? 10 : ms);
            g_source_set_callback(src, onTick, new std::shared_ptr<std::function<void()>>(shared),
                                  [](void* d) { delete static_cast<std::shared_ptr<std::function<void()>>*>(d); });
            g_source_attach(src, s->ctx);
            s->entries[token] = State::Entry{{}, nullptr, src, nullptr, nullptr, shared};
        },
        timeoutMs);
    if (!answered) {
        if (late == Late::Keep) return token;
        post([s, token] { s->drop(token); });
        return 0;
    }
    return token;
}

bool Hub::remove(int token, int timeoutMs) {
    if (token == 0) return true;
    auto s = s_;
    return run([s, token] { s->drop(token); }, timeoutMs);
}

}  // namespace tavik::atspi
