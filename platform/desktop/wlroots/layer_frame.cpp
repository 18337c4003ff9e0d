// The view frame as a layer-shell overlay: one surface anchored to the top-left corner of the
// output it lies on, placed by margins, its ring drawn into a shared-memory buffer.
#include "platform/desktop/wlroots/layer_frame.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>

#include "platform/desktop/wayland/ring_image.h"
// The generated header names a parameter `namespace`, a C++ keyword.
#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

namespace tavik::desktop::wayland {

struct LayerFrame::Buffer {
    wl_buffer* buffer = nullptr;
    void* data = MAP_FAILED;
    size_t bytes = 0;
    ~Buffer() {
        if (buffer) wl_buffer_destroy(buffer);
        if (data != MAP_FAILED) ::munmap(data, bytes);
    }
};

namespace {

void layerConfigure(void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t width, uint32_t height) {
    static_cast<LayerFrame*>(data)->onConfigure(serial, width, height);
}
void layerClosed(void* data, zwlr_layer_surface_v1*) { static_cast<LayerFrame*>(data)->onClosed(); }
const zwlr_layer_surface_v1_listener kLayerListener = {layerConfigure, layerClosed};

// The output holding most of `r` (the first one when none overlaps).
const OutputInfo* outputOf(std::span<const OutputInfo> outputs, Rect r) {
    const OutputInfo* best = nullptr;
    int64_t bestArea = -1;
    for (const OutputInfo& o : outputs) {
        if (o.width <= 0 || o.height <= 0) continue;
        const int64_t s = std::max(1, o.scale);
        const int64_t l = std::max<int64_t>(r.left, o.x), t = std::max<int64_t>(r.top, o.y);
        const int64_t rr = std::min<int64_t>(int64_t{r.left} + r.width, o.x + o.width / s);
        const int64_t b = std::min<int64_t>(int64_t{r.top} + r.height, o.y + o.height / s);
        const int64_t area = (rr > l && b > t) ? (rr - l) * (b - t) : 0;
        if (area > bestArea) {
            best = &o;
            bestArea = area;
        }
    }
    return best;
}

}  // namespace

LayerFrame::LayerFrame(WlConnection& conn) : conn_(conn) {}

std::unique_ptr<LayerFrame> LayerFrame::create(WlConnection& conn) {
    if (!conn.compositor() || !conn.shm()) return nullptr;
    auto* shell = static_cast<zwlr_layer_shell_v1*>(conn.bind(&zwlr_layer_shell_v1_interface, 3));
    if (!shell) return nullptr;
    std::unique_ptr<LayerFrame> f(new LayerFrame(conn));
    f->shell_ = shell;
    return f;
}

LayerFrame::~LayerFrame() {
    destroySurface();
    buffers_.clear();
    if (shell_) {
        if (zwlr_layer_shell_v1_get_version(shell_) >= 3)
            zwlr_layer_shell_v1_destroy(shell_);
        else
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(shell_));
    }
    conn_.pump();
}

void LayerFrame::onConfigure(uint32_t serial, uint32_t, uint32_t) {
    configured_ = true;
    lastSerial_ = serial;
    serialPending_ = true;
}

void LayerFrame::onClosed() { closed_ = true; }

void LayerFrame::destroySurface() {
    if (layer_) zwlr_layer_surface_v1_destroy(layer_);
    if (surface_) wl_surface_destroy(surface_);
    layer_ = nullptr;
    surface_ = nullptr;
    configured_ = closed_ = serialPending_ = false;
    shown_ = {};
    thickness_ = 0;
}

std::unique_ptr<LayerFrame::Buffer> LayerFrame::makeBuffer(int32_t width, int32_t height, int32_t thickness) {
    auto b = std::make_unique<Buffer>();
    const uint64_t stride = uint64_t{static_cast<uint32_t>(width)} * 4;
    b->bytes = static_cast<size_t>(stride * static_cast<uint32_t>(height));
    const int fd = ::memfd_create("tavik-frame", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    if (::ftruncate(fd, static_cast<off_t>(b->bytes)) != 0) {
        ::close(fd);
        return nullptr;
    }
    b->data = ::mmap(nullptr, b->bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (b->data == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    drawRing({static_cast<uint32_t*>(b->data), b->bytes / 4}, width, height, thickness);
    wl_shm_pool* pool = wl_shm_create_pool(conn_.shm(), fd, static_cast<int32_t>(b->bytes));
    b->buffer = wl_shm_pool_create_buffer(pool, 0, width, height, static_cast<int32_t>(stride), WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    ::close(fd);
    return b;
}

DesktopStatus LayerFrame::show(Rect outer, int32_t thickness) {
    if (conn_.lost()) return DesktopStatus::NoDisplay;
    if (!ringFits(outer.width, outer.height, thickness)) return DesktopStatus::Failed;
    conn_.pump();
    const OutputInfo* out = outputOf(conn_.outputs(), outer);
    if (!out) return DesktopStatus::Failed;
    if (closed_ || (layer_ && out->name != outputName_)) destroySurface();
    if (layer_ && outer == shown_ && thickness == thickness_) return DesktopStatus::Ok;

    const bool fresh = !layer_;
    if (fresh) {
        surface_ = wl_compositor_create_surface(conn_.compositor());
        wl_region* none = wl_compositor_create_region(conn_.compositor());
        wl_surface_set_input_region(surface_, none);  // empty: clicks go through
        wl_region_destroy(none);
        layer_ = zwlr_layer_shell_v1_get_layer_surface(shell_, surface_, out->output, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
                                                       "tavik-view-frame");
        zwlr_layer_surface_v1_add_listener(layer_, &kLayerListener, this);
        zwlr_layer_surface_v1_set_anchor(layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
        zwlr_layer_surface_v1_set_exclusive_zone(layer_, -1);  // not pushed aside by panels
        zwlr_layer_surface_v1_set_keyboard_interactivity(layer_, 0);
        outputName_ = out->name;
    }
    zwlr_layer_surface_v1_set_size(layer_, static_cast<uint32_t>(outer.width), static_cast<uint32_t>(outer.height));
    zwlr_layer_surface_v1_set_margin(layer_, outer.top - out->y, 0, 0, outer.left - out->x);
    if (fresh) {
        // The first commit carries no buffer; the compositor answers with a configure.
        wl_surface_commit(surface_);
        if (!conn_.waitFor([&] { return configured_ || closed_; }, 3000) || closed_) {
            destroySurface();
            return conn_.lost() ? DesktopStatus::NoDisplay : DesktopStatus::Failed;
        }
    }
    auto buffer = makeBuffer(outer.width, outer.height, thickness);
    if (!buffer) return DesktopStatus::Failed;
    if (serialPending_) {
        zwlr_layer_surface_v1_ack_configure(layer_, lastSerial_);
        serialPending_ = false;
    }
    wl_surface_attach(surface_, buffer->buffer, 0, 0);
    wl_surface_damage(surface_, 0, 0, outer.width, outer.height);
    wl_surface_commit(surface_);
    buffers_.push_back(std::move(buffer));
    if (buffers_.size() > 2) buffers_.erase(buffers_.begin());  // the compositor let go of it by now
    shown_ = outer;
    thickness_ = thickness;
    if (!conn_.roundtrip(3000)) return conn_.lost() ? DesktopStatus::NoDisplay : DesktopStatus::Failed;
    // Ack the configure that answered the new size (applied with the next show).
    if (serialPending_) {
        zwlr_layer_surface_v1_ack_configure(layer_, lastSerial_);
        serialPending_ = false;
        wl_surface_commit(surface_);
        conn_.pump();
    }
    return closed_ ? DesktopStatus::Failed : DesktopStatus::Ok;
}

void LayerFrame::hide() {
    if (!layer_) return;
    destroySurface();
    conn_.roundtrip(1000);
    buffers_.clear();
}

WindowId LayerFrame::id() const {
    return surface_ ? wl_proxy_get_id(reinterpret_cast<wl_proxy*>(surface_)) : 0;
}

}  // namespace tavik::desktop::wayland
