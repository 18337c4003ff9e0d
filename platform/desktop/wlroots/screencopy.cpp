// Screen copies into a wl_shm buffer: one frame object per grab, buffer kept between grabs.
#include "platform/desktop/wlroots/screencopy.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>

#include "platform/desktop/wlroots/screencopy_format.h"
#include "platform/desktop/wayland/wl_connection.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace tavik::desktop::wayland {

struct ScreenCopier::Buffer {
    uint32_t format = 0, width = 0, height = 0, stride = 0;
    size_t bytes = 0;
    uint8_t* map = nullptr;
    wl_buffer* buffer = nullptr;

    ~Buffer() {
        if (buffer) wl_buffer_destroy(buffer);
        if (map) ::munmap(map, bytes);
    }

    // A buffer of this layout; nullptr when memory or the compositor refused.
    static std::unique_ptr<Buffer> make(wl_shm* shm, uint32_t format, uint32_t width, uint32_t height,
                                        uint32_t stride) {
        const uint64_t size = shmBufferBytes(width, height, stride);
        if (size == 0 || size > uint64_t(INT32_MAX)) return nullptr;
        const int fd = ::memfd_create("tavik-screencopy", MFD_CLOEXEC);
        if (fd < 0) return nullptr;
        auto b = std::make_unique<Buffer>();
        b->format = format;
        b->width = width;
        b->height = height;
        b->stride = stride;
        if (::ftruncate(fd, off_t(size)) == 0) {
            void* m = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (m != MAP_FAILED) {
                b->map = static_cast<uint8_t*>(m);
                b->bytes = size;
                wl_shm_pool* pool = wl_shm_create_pool(shm, fd, int32_t(size));
                b->buffer = wl_shm_pool_create_buffer(pool, 0, int32_t(width), int32_t(height), int32_t(stride), format);
                wl_shm_pool_destroy(pool);  // the buffer keeps the memory
            }
        }
        ::close(fd);
        return b->buffer ? std::move(b) : nullptr;
    }
};

namespace {

// What one frame object told.
struct FrameState {
    bool haveShm = false;
    uint32_t format = 0, width = 0, height = 0, stride = 0;
    bool buffersDone = false;  // buffer_done (version 3), or the buffer event below version 3
    bool yInvert = false;
    bool ready = false;
    bool failed = false;
    uint32_t version = 1;
};

void onBuffer(void* d, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width, uint32_t height, uint32_t stride) {
    auto* s = static_cast<FrameState*>(d);
    // Several shm layouts may be offered: keep the first one we can read.
    if (!s->haveShm || !shmPixelOrder(s->format)) {
        s->haveShm = true;
        s->format = format;
        s->width = width;
        s->height = height;
        s->stride = stride;
    }
    if (s->version < 3) s->buffersDone = true;
}
void onFlags(void* d, zwlr_screencopy_frame_v1*, uint32_t flags) {
    static_cast<FrameState*>(d)->yInvert = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
}
void onReady(void* d, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) { static_cast<FrameState*>(d)->ready = true; }
void onFailed(void* d, zwlr_screencopy_frame_v1*) { static_cast<FrameState*>(d)->failed = true; }
void onDamage(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onDmabuf(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {}
void onBufferDone(void* d, zwlr_screencopy_frame_v1*) { static_cast<FrameState*>(d)->buffersDone = true; }

const zwlr_screencopy_frame_v1_listener kFrameListener = {onBuffer, onFlags,  onReady,     onFailed,
                                                          onDamage, onDmabuf, onBufferDone};

}  // namespace

std::unique_ptr<ScreenCopier> ScreenCopier::open() {
    if (!std::getenv("WAYLAND_DISPLAY") && !std::getenv("WAYLAND_SOCKET")) return nullptr;
    auto conn = WlConnection::open({}, kCopyBoundMs);
    if (!conn || !conn->shm() || conn->outputs().empty()) return nullptr;
    auto* manager = static_cast<zwlr_screencopy_manager_v1*>(conn->bind(&zwlr_screencopy_manager_v1_interface, 3));
    if (!manager) return nullptr;
    std::unique_ptr<ScreenCopier> c(new ScreenCopier);
    c->conn_ = std::move(conn);
    c->manager_ = manager;
    return c;
}

ScreenCopier::~ScreenCopier() {
    buffer_.reset();
    if (manager_) zwlr_screencopy_manager_v1_destroy(static_cast<zwlr_screencopy_manager_v1*>(manager_));
    if (conn_) conn_->pump();
}

bool ScreenCopier::lost() const { return !conn_ || conn_->lost(); }

bool ScreenCopier::grab(const std::function<void(const StreamFrame&)>& use) {
    if (lost() || conn_->outputs().empty()) return false;
    auto* manager = static_cast<zwlr_screencopy_manager_v1*>(manager_);
    FrameState state;
    zwlr_screencopy_frame_v1* frame =
        zwlr_screencopy_manager_v1_capture_output(manager, 0, conn_->outputs().front().output);
    state.version = zwlr_screencopy_frame_v1_get_version(frame);
    zwlr_screencopy_frame_v1_add_listener(frame, &kFrameListener, &state);
    // One bound for the whole grab: buffer description, then the copy.
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(kCopyBoundMs);
    auto left = [&] {
        return int(std::max<int64_t>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count()));
    };
    bool ok = conn_->waitFor([&] { return state.buffersDone || state.failed; }, left()) && !state.failed &&
              state.haveShm;
    std::optional<PixelOrder> order = shmPixelOrder(state.format);
    ok = ok && order.has_value();
    if (ok && (!buffer_ || buffer_->format != state.format || buffer_->width != state.width ||
               buffer_->height != state.height || buffer_->stride != state.stride)) {
        buffer_.reset();
        buffer_ = Buffer::make(conn_->shm(), state.format, state.width, state.height, state.stride);
        ok = buffer_ != nullptr;
    }
    if (ok) {
        zwlr_screencopy_frame_v1_copy(frame, buffer_->buffer);
        ok = conn_->waitFor([&] { return state.ready || state.failed; }, left()) && state.ready;
    }
    // Destroyed whatever happened: a late event for it is dropped by the library.
    zwlr_screencopy_frame_v1_destroy(frame);
    conn_->pump();
    if (!ok) return false;
    std::span<uint8_t> bytes(buffer_->map, buffer_->bytes);
    if (state.yInvert) flipRows(bytes, buffer_->stride, int32_t(buffer_->height));
    StreamFrame f;
    f.bytes = bytes;
    f.stride = buffer_->stride;
    f.width = int32_t(buffer_->width);
    f.height = int32_t(buffer_->height);
    f.order = *order;
    use(f);
    return true;
}

}  // namespace tavik::desktop::wayland
