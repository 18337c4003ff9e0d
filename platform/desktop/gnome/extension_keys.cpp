#include "platform/desktop/gnome/extension_keys.h"

#include <map>
#include <mutex>

#include "platform/desktop/desktop.h"
#include "platform/desktop/gnome/extension_facts.h"
#include "platform/desktop/gnome/extension_signal.h"

namespace tavik::desktop::gnome {

std::optional<std::string_view> extensionKeyName(uint32_t keysym, uint32_t modifiers) {
    // The viewer asks for Super+Alt+V (Super+V is the key of earlier versions).
    if (modifiers != kModSuper && modifiers != (kModSuper | kModAlt)) return std::nullopt;
    switch (keysym) {
    case 0x76:  // v
    case 0x56: return "dialog";
    case 0x67:  // g
    case 0x47: return "controller";
    default: return std::nullopt;
    }
}

struct ExtensionKeys::State {
    std::mutex m;
    std::map<std::string, int32_t, std::less<>> ids;  // binding name -> hot key id
    std::function<void(int32_t)> pressed;
    GDBusConnection* conn = nullptr;                  // for KeyOf calls
    std::unique_ptr<ExtensionSignal> signal;
};

std::unique_ptr<ExtensionKeys> ExtensionKeys::open(std::function<void(int32_t id)> pressed) {
    GDBusConnection* conn = openSessionBus();
    if (!conn) return nullptr;
    if (!nameHasOwner(conn, kFactsBusName)) {
        g_object_unref(conn);
        return nullptr;
    }
    auto s = std::make_shared<State>();
    s->conn = conn;
    s->pressed = std::move(pressed);
    std::weak_ptr<State> weak = s;
    s->signal = std::make_unique<ExtensionSignal>("KeyPressed", [weak](GVariant* params) {
        auto st = weak.lock();
        if (!st || !params || !g_variant_is_of_type(params, G_VARIANT_TYPE("(s)"))) return;
        const gchar* name = nullptr;
        g_variant_get(params, "(&s)", &name);
        std::optional<int32_t> id;
        {
            std::lock_guard lock(st->m);
            if (auto it = st->ids.find(std::string_view(name)); it != st->ids.end()) id = it->second;
        }
        if (id) st->pressed(*id);
    });
    if (!s->signal->running()) {
        s->signal.reset();
        g_object_unref(conn);
        return nullptr;
    }
    return std::unique_ptr<ExtensionKeys>(new ExtensionKeys(std::move(s)));
}

ExtensionKeys::~ExtensionKeys() {
    s_->signal.reset();  // no press is reported after this
    g_dbus_connection_close_sync(s_->conn, nullptr, nullptr);
    g_object_unref(s_->conn);
}

std::optional<std::string> ExtensionKeys::bind(int32_t id, std::string_view name) {
    {
        std::lock_guard lock(s_->m);
        s_->ids[std::string(name)] = id;
    }
    const std::string n(name);
    GVariant* reply = g_dbus_connection_call_sync(s_->conn, kFactsBusName, kFactsPath, kFactsInterface, "KeyOf",
                                                  g_variant_new("(s)", n.c_str()), G_VARIANT_TYPE("(s)"),
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000, nullptr, nullptr);
    if (!reply) return std::nullopt;
    const gchar* accel = nullptr;
    g_variant_get(reply, "(&s)", &accel);
    std::string out = accel ? accel : "";
    g_variant_unref(reply);
    return out;
}

void ExtensionKeys::unbind(int32_t id) {
    std::lock_guard lock(s_->m);
    for (auto it = s_->ids.begin(); it != s_->ids.end();) {
        if (it->second == id)
            it = s_->ids.erase(it);
        else
            ++it;
    }
}

}  // namespace tavik::desktop::gnome
