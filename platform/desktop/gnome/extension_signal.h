// One signal of our GNOME Shell extension, followed on a thread with a GLib main context and a
// private session-bus connection of its own. The handler runs on that thread and must not block;
// dropping the object returns once no call of the handler runs any more.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <thread>

#include "platform/desktop/window_facts.h"

namespace tavik::desktop::gnome {

class ExtensionSignal final : public FactsWatch {
public:
    // `member` is the signal's name ("Changed", "KeyPressed"); `on` gets its parameters.
    ExtensionSignal(const char* member, std::function<void(GVariant*)> on);
    ~ExtensionSignal() override;
    ExtensionSignal(const ExtensionSignal&) = delete;
    ExtensionSignal& operator=(const ExtensionSignal&) = delete;

    // False when the session bus could not be reached (no calls will come).
    bool running() const { return thread_.joinable(); }

private:
    static void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                         gpointer self);

    std::function<void(GVariant*)> on_;
    GMainContext* ctx_ = nullptr;
    GMainLoop* loop_ = nullptr;
    GDBusConnection* conn_ = nullptr;
    guint sub_ = 0;
    std::thread thread_;
};

}  // namespace tavik::desktop::gnome
