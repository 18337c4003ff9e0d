// One client connection to the Wayland compositor for the input side of the Wayland back end:
// the globals it offers (outputs with their place in the layout, seat, shm, compositor and the
// wlroots protocols for a virtual pointer, toplevel list and layer surfaces), bounded waits.
//
// Not thread-safe: one owner calls it (the owner serialises its callers). No call waits longer
// than the bound it is given; a compositor that went away marks the connection lost and every
// later call answers false/nullopt.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"

struct wl_display;
struct wl_registry;
struct wl_compositor;
struct wl_shm;
struct wl_seat;
struct wl_output;
struct wl_interface;

namespace tavik::desktop::wayland {

// What wl_output told of one output. `x`/`y` place it in the compositor's layout; `width` and
// `height` are its current mode in pixels, `scale` its integer scale (>= 1).
struct OutputInfo {
    uint32_t name = 0;  // registry name
    wl_output* output = nullptr;
    int32_t x = 0, y = 0;
    int32_t width = 0, height = 0;
    int32_t scale = 1;
    bool done = false;  // the first "done" arrived
};

// The box that holds every output in layout coordinates (mode size divided by scale); an empty
// rectangle when no output has a size. Outputs with a non-positive size are skipped; sums are
// done in 64 bits and clamped to int32.
Rect layoutBox(std::span<const OutputInfo> outputs);

class WlConnection {
public:
    // Connects to the compositor named by `name` (empty: $WAYLAND_DISPLAY, then "wayland-0")
    // and reads its globals and outputs within `timeoutMs`. nullptr when no compositor answers.
    static std::unique_ptr<WlConnection> open(const std::string& name = {}, int timeoutMs = 3000);
    ~WlConnection();
    WlConnection(const WlConnection&) = delete;
    WlConnection& operator=(const WlConnection&) = delete;

    wl_display* display() const { return display_; }
    bool lost() const { return lost_; }

    // Sends queued requests and runs the handlers of events that already arrived; never waits.
    // False when the connection is lost.
    bool pump();
    // Sends queued requests and waits until the compositor has handled them and every event
    // they caused has run its handler, at most `timeoutMs`. False on time-out or loss.
    bool roundtrip(int timeoutMs = 3000);
    // Runs handlers as events arrive until `done()` answers true or `timeoutMs` passes.
    template <typename Done>
    bool waitFor(Done done, int timeoutMs) {
        return waitUntil([](void* d) { return (*static_cast<Done*>(d))(); }, &done, timeoutMs);
    }

    // Binds the global of `iface` (at most `version`; nullptr when absent). The caller owns the
    // proxy and destroys it before this connection.
    void* bind(const wl_interface* iface, uint32_t version);
    bool has(const char* interfaceName) const;

    wl_compositor* compositor() const { return compositor_; }
    wl_shm* shm() const { return shm_; }
    wl_seat* seat() const { return seat_; }
    std::span<const OutputInfo> outputs() const { return outputs_; }
    Rect layout() const { return layoutBox(outputs_); }

    // Handlers of the registry and outputs (public for the C listener tables only).
    struct Global {
        uint32_t name;
        std::string interface;
        uint32_t version;
    };
    void onGlobal(uint32_t name, const char* iface, uint32_t version);
    void onGlobalRemove(uint32_t name);
    OutputInfo* outputFor(wl_output* o);

private:
    WlConnection() = default;
    bool waitUntil(bool (*done)(void*), void* arg, int timeoutMs);
    bool readEvents(int timeoutMs);  // one poll + read; false on loss

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    wl_seat* seat_ = nullptr;
    std::vector<Global> globals_;
    std::vector<OutputInfo> outputs_;
    bool lost_ = false;
};

// A connection opened on demand and opened again after a loss, at most once a second. Owners
// rebuild what they made on the old connection when generation() changes.
class WlLink {
public:
    // The connection (opening one if due); nullptr when the compositor is not reachable now.
    // Owners destroy what they built on a lost connection (see lost()) before calling this,
    // which closes a lost connection.
    WlConnection* get();
    bool lost() const { return conn_ && conn_->lost(); }
    // Changes each time a new connection is made (0 before the first).
    uint64_t generation() const { return generation_; }

private:
    std::unique_ptr<WlConnection> conn_;
    uint64_t generation_ = 0;
    int64_t lastTryMs_ = -1000000;
};

}  // namespace tavik::desktop::wayland
