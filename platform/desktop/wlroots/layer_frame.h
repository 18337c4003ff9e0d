// The view frame on wlroots compositors: a layer-shell surface on the overlay layer showing a red
// ring, with an empty input region so clicks reach the windows beneath.
#pragma once

#include <memory>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/desktop/wayland/wl_connection.h"

struct wl_surface;
struct wl_buffer;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace tavik::desktop::wayland {

class LayerFrame {
public:
    // nullptr when the compositor offers no layer shell (or no shm). `conn` outlives this.
    static std::unique_ptr<LayerFrame> create(WlConnection& conn);
    ~LayerFrame();
    LayerFrame(const LayerFrame&) = delete;
    LayerFrame& operator=(const LayerFrame&) = delete;

    // Shows the ring with its outer edge at `outer` (screen pixels), above every window. The
    // new place, size and picture are applied in one commit, so no mix of old and new shows.
    // Waits (at most ~3 s) for the compositor to place it. Failed when `outer` is smaller than
    // two rings, lies on no output, or the compositor closed the surface; NoDisplay when the
    // connection is lost.
    DesktopStatus show(Rect outer, int32_t thickness);
    // Removes the surface; the compositor has handled it when this returns (at most ~1 s).
    void hide();
    // An id of the surface while it is shown (never 0), else 0.
    WindowId id() const;

    // Handlers of the layer surface (public for the C listener tables only).
    void onConfigure(uint32_t serial, uint32_t width, uint32_t height);
    void onClosed();

private:
    explicit LayerFrame(WlConnection& conn);
    struct Buffer;
    void destroySurface();
    std::unique_ptr<Buffer> makeBuffer(int32_t width, int32_t height, int32_t thickness);

    WlConnection& conn_;
    zwlr_layer_shell_v1* shell_ = nullptr;
    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layer_ = nullptr;
    uint32_t outputName_ = 0;
    bool configured_ = false;
    bool closed_ = false;
    uint32_t lastSerial_ = 0;
    bool serialPending_ = false;
    Rect shown_;
    int32_t thickness_ = 0;
    std::vector<std::unique_ptr<Buffer>> buffers_;  // the attached one last; older ones released later
};

}  // namespace tavik::desktop::wayland
