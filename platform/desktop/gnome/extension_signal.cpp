#include "platform/desktop/gnome/extension_signal.h"

#include "platform/desktop/gnome/extension_facts.h"

namespace tavik::desktop::gnome {

ExtensionSignal::ExtensionSignal(const char* member, std::function<void(GVariant*)> on) : on_(std::move(on)) {
    ctx_ = g_main_context_new();
    loop_ = g_main_loop_new(ctx_, FALSE);
    // The subscription belongs to the context that is the thread default when it is made.
    g_main_context_push_thread_default(ctx_);
    conn_ = openSessionBus();
    if (conn_)
        sub_ = g_dbus_connection_signal_subscribe(conn_, kFactsBusName, kFactsInterface, member, kFactsPath, nullptr,
                                                  G_DBUS_SIGNAL_FLAGS_NONE, &ExtensionSignal::onSignal, this, nullptr);
    g_main_context_pop_thread_default(ctx_);
    if (conn_)
        thread_ = std::thread([this] {
            g_main_context_push_thread_default(ctx_);
            g_main_loop_run(loop_);
            g_main_context_pop_thread_default(ctx_);
        });
}

ExtensionSignal::~ExtensionSignal() {
    if (thread_.joinable()) {
        // Through the context, so that a loop that has not started yet still sees it.
        GSource* quit = g_idle_source_new();
        g_source_set_callback(
            quit,
            [](gpointer loop) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            loop_, nullptr);
        g_source_attach(quit, ctx_);
        g_source_unref(quit);
        thread_.join();
    }
    if (conn_) {
        if (sub_) g_dbus_connection_signal_unsubscribe(conn_, sub_);
        g_dbus_connection_close_sync(conn_, nullptr, nullptr);
        g_object_unref(conn_);
    }
    // Drop what the unsubscription queued on the context before it goes.
    while (g_main_context_iteration(ctx_, FALSE)) {
    }
    g_main_loop_unref(loop_);
    g_main_context_unref(ctx_);
}

void ExtensionSignal::onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                               GVariant* params, gpointer self) {
    static_cast<ExtensionSignal*>(self)->on_(params);
}

}  // namespace tavik::desktop::gnome
