// The compositor connection of the Wayland input side: registry, outputs, bounded round trips.
#include "platform/desktop/wayland/wl_connection.h"

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tavik::desktop::wayland {

Rect layoutBox(std::span<const OutputInfo> outputs) {
    int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
    for (const OutputInfo& o : outputs) {
        if (o.width <= 0 || o.height <= 0) continue;
        const int64_t scale = std::max<int64_t>(1, o.scale);
        left = std::min<int64_t>(left, o.x);
        top = std::min<int64_t>(top, o.y);
        right = std::max<int64_t>(right, int64_t{o.x} + o.width / scale);
        bottom = std::max<int64_t>(bottom, int64_t{o.y} + o.height / scale);
    }
    if (left == INT64_MAX) return {};
    auto clamp = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
    return {clamp(left), clamp(top), clamp(right - left), clamp(bottom - top)};
}

namespace {

void outputGeometry(void* data, wl_output* o, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*,
                    const char*, int32_t) {
    if (OutputInfo* info = static_cast<WlConnection*>(data)->outputFor(o)) {
        info->x = x;
        info->y = y;
    }
}

void outputMode(void* data, wl_output* o, uint32_t flags, int32_t width, int32_t height, int32_t) {
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    if (OutputInfo* info = static_cast<WlConnection*>(data)->outputFor(o)) {
        info->width = width;
        info->height = height;
    }
}

void outputDone(void* data, wl_output* o) {
    if (OutputInfo* info = static_cast<WlConnection*>(data)->outputFor(o)) info->done = true;
}

void outputScale(void* data, wl_output* o, int32_t factor) {
    if (OutputInfo* info = static_cast<WlConnection*>(data)->outputFor(o)) info->scale = std::max(1, factor);
}

void outputText(void*, wl_output*, const char*) {}  // name and description (bound below version 4: unused)

const wl_output_listener kOutputListener = {outputGeometry, outputMode, outputDone, outputScale, outputText, outputText};

void registryGlobal(void* data, wl_registry*, uint32_t name, const char* iface, uint32_t version) {
    static_cast<WlConnection*>(data)->onGlobal(name, iface, version);
}

void registryRemove(void* data, wl_registry*, uint32_t name) { static_cast<WlConnection*>(data)->onGlobalRemove(name); }

const wl_registry_listener kRegistryListener = {registryGlobal, registryRemove};

void syncDone(void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }
const wl_callback_listener kSyncListener = {syncDone};

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::unique_ptr<WlConnection> WlConnection::open(const std::string& name, int timeoutMs) {
    wl_display* d = wl_display_connect(name.empty() ? nullptr : name.c_str());
    if (!d) return nullptr;
    std::unique_ptr<WlConnection> c(new WlConnection);
    c->display_ = d;
    c->registry_ = wl_display_get_registry(d);
    wl_registry_add_listener(c->registry_, &kRegistryListener, c.get());
    // First round trip: the globals (outputs bound); second: the outputs' own events.
    if (!c->roundtrip(timeoutMs) || !c->roundtrip(timeoutMs)) return nullptr;
    return c;
}

WlConnection::~WlConnection() {
    for (OutputInfo& o : outputs_)
        if (o.output) wl_output_destroy(o.output);
    if (seat_) wl_seat_destroy(seat_);
    if (shm_) wl_shm_destroy(shm_);
    if (compositor_) wl_compositor_destroy(compositor_);
    if (registry_) wl_registry_destroy(registry_);
    if (display_) wl_display_disconnect(display_);
}

void WlConnection::onGlobal(uint32_t name, const char* iface, uint32_t version) {
    globals_.push_back({name, iface, version});
    if (std::strcmp(iface, wl_compositor_interface.name) == 0 && !compositor_) {
        compositor_ = static_cast<wl_compositor*>(
            wl_registry_bind(registry_, name, &wl_compositor_interface, std::min(version, 4u)));
    } else if (std::strcmp(iface, wl_shm_interface.name) == 0 && !shm_) {
        shm_ = static_cast<wl_shm*>(wl_registry_bind(registry_, name, &wl_shm_interface, 1));
    } else if (std::strcmp(iface, wl_seat_interface.name) == 0 && !seat_) {
        seat_ = static_cast<wl_seat*>(wl_registry_bind(registry_, name, &wl_seat_interface, 1));
    } else if (std::strcmp(iface, wl_output_interface.name) == 0) {
        auto* o = static_cast<wl_output*>(wl_registry_bind(registry_, name, &wl_output_interface, std::min(version, 2u)));
        OutputInfo info;
        info.name = name;
        info.output = o;
        outputs_.push_back(info);
        wl_output_add_listener(o, &kOutputListener, this);
    }
}

void WlConnection::onGlobalRemove(uint32_t name) {
    std::erase_if(globals_, [name](const Global& g) { return g.name == name; });
    for (auto it = outputs_.begin(); it != outputs_.end(); ++it) {
        if (it->name == name) {
            if (it->output) wl_output_destroy(it->output);
            outputs_.erase(it);
            break;
        }
    }
}

OutputInfo* WlConnection::outputFor(wl_output* o) {
    for (OutputInfo& info : outputs_)
        if (info.output == o) return &info;
    return nullptr;
}

bool WlConnection::has(const char* interfaceName) const {
    return std::any_of(globals_.begin(), globals_.end(), [&](const Global& g) { return g.interface == interfaceName; });
}

void* WlConnection::bind(const wl_interface* iface, uint32_t version) {
    if (lost_) return nullptr;
    for (const Global& g : globals_)
        if (g.interface == iface->name)
            return wl_registry_bind(registry_, g.name, iface, std::min(version, g.version));
    return nullptr;
}

bool WlConnection::readEvents(int timeoutMs) {
    if (lost_) return false;
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            lost_ = true;
            return false;
        }
    }
    // Flush; a full socket buffer is retried on the next call.
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display_);
        lost_ = true;
        return false;
    }
    pollfd p{wl_display_get_fd(display_), POLLIN, 0};
    const int r = ::poll(&p, 1, std::max(0, timeoutMs));
    if (r > 0) {
        if (wl_display_read_events(display_) < 0) {
            lost_ = true;
            return false;
        }
    } else {
        wl_display_cancel_read(display_);
        if (r < 0 && errno != EINTR) {
            lost_ = true;
            return false;
        }
    }
    if (wl_display_dispatch_pending(display_) < 0) {
        lost_ = true;
        return false;
    }
    return true;
}

bool WlConnection::pump() { return readEvents(0); }

bool WlConnection::waitUntil(bool (*done)(void*), void* arg, int timeoutMs) {
    const int64_t end = nowMs() + std::max(0, timeoutMs);
    if (!readEvents(0)) return false;
    while (!done(arg)) {
        const int64_t left = end - nowMs();
        if (left <= 0) return false;
        if (!readEvents(static_cast<int>(std::min<int64_t>(left, 100)))) return false;
    }
    return true;
}

bool WlConnection::roundtrip(int timeoutMs) {
    if (lost_) return false;
    bool done = false;
    wl_callback* cb = wl_display_sync(display_);
    wl_callback_add_listener(cb, &kSyncListener, &done);
    const bool ok = waitFor([&] { return done; }, timeoutMs);
    wl_callback_destroy(cb);  // a late "done" for it is dropped by the library
    return ok;
}

WlConnection* WlLink::get() {
    if (conn_ && !conn_->lost()) return conn_.get();
    const int64_t now = nowMs();
    if (now - lastTryMs_ < 1000) return nullptr;
    lastTryMs_ = now;
    // Owners drop what they built on a lost connection before using a new one (generation).
    conn_.reset();
    if (!std::getenv("WAYLAND_DISPLAY") && !std::getenv("WAYLAND_SOCKET")) return nullptr;
    conn_ = WlConnection::open();
    if (!conn_) return nullptr;
    ++generation_;
    return conn_.get();
}

}  // namespace tavik::desktop::wayland
