// Window facts from our GNOME Shell extension (gnome/extension/): org.tavik.WindowFacts on the
// session bus. Each call goes over a private bus connection of this object's own (a bus that
// goes away never ends the process), bounded to 500 ms. The last answer is kept until the
// extension signals a change.
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "platform/desktop/window_facts.h"

namespace tavik::desktop::gnome {

inline constexpr const char* kFactsBusName = "org.tavik.WindowFacts";
inline constexpr const char* kFactsPath = "/org/tavik/WindowFacts";
inline constexpr const char* kFactsInterface = "org.tavik.WindowFacts1";
inline constexpr const char* kExtensionUuid = "window-facts@tavik.orvane";

class ExtensionFacts final : public WindowFacts {
public:
    // The extension's facts when it answers on the session bus; else nullptr, and on a GNOME
    // session one line on stderr (once per process) telling how to enable it.
    static std::unique_ptr<WindowFacts> open();
    ~ExtensionFacts() override;

    std::string_view source() const override { return "GNOME Shell extension"; }
    std::optional<std::vector<WindowFact>> windows() override;
    std::unique_ptr<FactsWatch> watch(std::function<void()> changed) override;

private:
    explicit ExtensionFacts(GDBusConnection* conn) : conn_(conn) {}
    GDBusConnection* conn_;  // owned
    std::shared_ptr<std::atomic<uint64_t>> changes_ = std::make_shared<std::atomic<uint64_t>>(0);
    std::unique_ptr<FactsWatch> changeWatch_;  // counts the extension's Changed signals
    std::optional<std::vector<WindowFact>> kept_;
    uint64_t keptAt_ = 0;  // changes_ when kept_ was asked for
};

// The windows of a GetWindows reply (type "(a(tissiiiiiiiib))"); nullopt for any other type.
// Windows with an empty or negative frame are left out; a client rectangle that is empty or
// not inside the frame becomes the frame.
std::optional<std::vector<WindowFact>> factsFromReply(GVariant* reply);

// A private connection to the session bus (exit-on-close off); nullptr when there is none.
GDBusConnection* openSessionBus();

// Whether `name` has an owner on `conn` (bounded).
bool nameHasOwner(GDBusConnection* conn, const char* name, int timeoutMs = 500);

}  // namespace tavik::desktop::gnome
