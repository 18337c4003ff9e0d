// The screen cast's PipeWire stream on a pw_thread_loop: format negotiation, buffer mapping, and
// the newest buffer of each wake-up handed on (older ones queued straight back).
#include "platform/desktop/portals/screencast_stream.h"

#include <linux/dma-buf.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/utils/result.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace tavik::desktop::wayland {

namespace {

constexpr uint32_t kMaxDamageRegions = 16;

bool orderOf(uint32_t format, PixelOrder& order) {
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA: order = PixelOrder::BGRx; return true;
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_RGBA: order = PixelOrder::RGBx; return true;
    case SPA_VIDEO_FORMAT_xRGB:
    case SPA_VIDEO_FORMAT_ARGB: order = PixelOrder::xRGB; return true;
    case SPA_VIDEO_FORMAT_xBGR:
    case SPA_VIDEO_FORMAT_ABGR: order = PixelOrder::xBGR; return true;
    default: return false;
    }
}

struct Mapping {
    void* base = nullptr;
    size_t length = 0;
    const uint8_t* data = nullptr;  // base + the data's map offset
    int fd = -1;
    bool dmabuf = false;
};

void syncDmabuf(int fd, uint64_t flags) {
    dma_buf_sync sync{};
    sync.flags = flags | DMA_BUF_SYNC_READ;
    ioctl(fd, DMA_BUF_IOCTL_SYNC, &sync);
}

}  // namespace

struct ScreencastStream::Pw {
    Callbacks cb;
    std::atomic<bool> alive{true};
    std::atomic<bool> closing{false};
    pw_thread_loop* loop = nullptr;
    bool started = false;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    pw_registry* registry = nullptr;
    uint32_t node = SPA_ID_INVALID;
    spa_hook registryListener{};
    pw_registry_events registryEvents{};
    spa_hook coreListener{};
    spa_hook streamListener{};
    pw_core_events coreEvents{};
    pw_stream_events streamEvents{};

    // The negotiated format (width 0 until then, or when it is not one we read).
    int32_t width = 0;
    int32_t height = 0;
    PixelOrder order = PixelOrder::BGRx;

    std::unordered_map<pw_buffer*, Mapping> maps;  // buffers we mapped ourselves
    std::vector<Rect> damage;                      // reused for each frame

    Pw() = default;
    Pw(const Pw&) = delete;
    Pw& operator=(const Pw&) = delete;
    ~Pw() {
        closing = true;
        if (loop && started) {
            pw_thread_loop_lock(loop);
            if (registry) {
                spa_hook_remove(&registryListener);
                pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
            }
            if (stream) pw_stream_destroy(stream);
            if (core) pw_core_disconnect(core);
            pw_thread_loop_unlock(loop);
            pw_thread_loop_stop(loop);
        } else {
            if (stream) pw_stream_destroy(stream);
            if (core) pw_core_disconnect(core);
        }
        for (auto& [b, m] : maps) munmap(m.base, m.length);
        if (context) pw_context_destroy(context);
        if (loop) pw_thread_loop_destroy(loop);
    }

    void markLost() {
        if (closing.load()) return;
        if (alive.exchange(false) && cb.lost) cb.lost();
    }

    static void onCoreError(void* data, uint32_t id, int, int, const char*) {
        if (id == PW_ID_CORE) static_cast<Pw*>(data)->markLost();
    }

    // The cast's node went away (the portal session ended, the user revoked it): a stream left
    // without its producer only pauses, so this is how the loss is seen.
    static void onGlobalRemove(void* data, uint32_t id) {
        auto* p = static_cast<Pw*>(data);
        if (id == p->node) p->markLost();
    }

    static void onState(void* data, pw_stream_state, pw_stream_state state, const char*) {
        if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
            static_cast<Pw*>(data)->markLost();
    }

    static void onParam(void* data, uint32_t id, const spa_pod* param) {
        auto* p = static_cast<Pw*>(data);
        if (!param || id != SPA_PARAM_Format) return;
        uint32_t mediaType = 0, mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
            mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
            return;
        spa_video_info_raw info{};
        p->width = 0;
        if (spa_format_video_raw_parse(param, &info) < 0) return;
        PixelOrder order{};
        if (!orderOf(info.format, order) || info.size.width < 1 || info.size.height < 1 ||
            info.size.width > uint32_t(kMaxFrameSide) || info.size.height > uint32_t(kMaxFrameSide))
            return;
        p->width = static_cast<int32_t>(info.size.width);
        p->height = static_cast<int32_t>(info.size.height);
        p->order = order;

        const int32_t stride = p->width * 4;
        const int32_t size = stride * p->height;  // at most 2^30
        uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[3];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
            SPA_POD_Int(size), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_DmaBuf))));
        params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
            SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
        params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoDamage),
            SPA_PARAM_META_size,
            SPA_POD_CHOICE_RANGE_Int(sizeof(spa_meta_region) * kMaxDamageRegions, sizeof(spa_meta_region),
                                     sizeof(spa_meta_region) * kMaxDamageRegions)));
        pw_stream_update_params(p->stream, params, 3);
    }

    // Buffers that PipeWire did not map for us (dmabufs, or memfds without the mappable flag).
    static void onAddBuffer(void* data, pw_buffer* b) {
        auto* p = static_cast<Pw*>(data);
        spa_buffer* buf = b->buffer;
        if (!buf || buf->n_datas < 1) return;
        const spa_data& d = buf->datas[0];
        if (d.data || d.fd < 0 || d.maxsize == 0) return;
        if (d.type != SPA_DATA_DmaBuf && d.type != SPA_DATA_MemFd) return;
        const size_t length = size_t(d.mapoffset) + size_t(d.maxsize);
        void* base = mmap(nullptr, length, PROT_READ, MAP_SHARED, static_cast<int>(d.fd), 0);
        if (base == MAP_FAILED) return;
        p->maps[b] = {base, length, static_cast<const uint8_t*>(base) + d.mapoffset, static_cast<int>(d.fd),
                      d.type == SPA_DATA_DmaBuf};
    }

    static void onRemoveBuffer(void* data, pw_buffer* b) {
        auto* p = static_cast<Pw*>(data);
        if (auto it = p->maps.find(b); it != p->maps.end()) {
            munmap(it->second.base, it->second.length);
            p->maps.erase(it);
        }
    }

    static void onProcess(void* data) {
        auto* p = static_cast<Pw*>(data);
        pw_buffer* newest = nullptr;
        while (pw_buffer* next = pw_stream_dequeue_buffer(p->stream)) {
            if (newest) pw_stream_queue_buffer(p->stream, newest);
            newest = next;
        }
        if (!newest) return;
        p->deliver(newest);
        pw_stream_queue_buffer(p->stream, newest);
    }

    void deliver(pw_buffer* b) {
        spa_buffer* buf = b->buffer;
        if (width == 0 || !buf || buf->n_datas < 1 || !cb.frame) return;
        if (auto* h = static_cast<spa_meta_header*>(
                spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(spa_meta_header)));
            h && (h->flags & SPA_META_HEADER_FLAG_CORRUPTED))
            return;
        const spa_data& d = buf->datas[0];
        if (!d.chunk || (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) || d.chunk->size == 0) return;
        const uint8_t* base = static_cast<const uint8_t*>(d.data);
        const Mapping* mapped = nullptr;
        if (!base) {
            auto it = maps.find(b);
            if (it == maps.end()) return;
            mapped = &it->second;
            base = mapped->data;
        }
        // The chunk as the producer describes it must lie inside the buffer.
        const uint64_t offset = d.chunk->offset, bytes = d.chunk->size, room = d.maxsize;
        if (offset > room || bytes > room - offset) return;
        const int64_t stride = d.chunk->stride != 0 ? int64_t{d.chunk->stride} : int64_t{width} * 4;

        StreamFrame f;
        f.bytes = {base + offset, size_t(bytes)};
        f.stride = stride;
        f.width = width;
        f.height = height;
        f.order = order;
        damage.clear();
        if (spa_meta* m = spa_buffer_find_meta(buf, SPA_META_VideoDamage)) {
            spa_meta_region* r = nullptr;
            spa_meta_for_each(r, m) {
                if (!spa_meta_region_is_valid(r)) break;
                if (damage.size() == damage.capacity()) break;  // never allocates here
                const auto clampSide = [](uint32_t v) { return static_cast<int32_t>(std::min<uint32_t>(v, INT32_MAX)); };
                damage.push_back({r->region.position.x, r->region.position.y, clampSide(r->region.size.width),
                                  clampSide(r->region.size.height)});
            }
            f.hasDamage = !damage.empty();
            f.damage = damage;
        }
        if (mapped && mapped->dmabuf) syncDmabuf(mapped->fd, DMA_BUF_SYNC_START);
        cb.frame(f);
        if (mapped && mapped->dmabuf) syncDmabuf(mapped->fd, DMA_BUF_SYNC_END);
    }
};

std::unique_ptr<ScreencastStream> ScreencastStream::open(int fd, uint32_t node, Callbacks callbacks) {
    static std::once_flag init;
    std::call_once(init, [] { pw_init(nullptr, nullptr); });

    std::unique_ptr<ScreencastStream> s(new ScreencastStream());
    s->pw_ = std::make_unique<Pw>();
    Pw& p = *s->pw_;
    p.cb = std::move(callbacks);
    p.damage.reserve(kMaxDamageRegions);
    p.coreEvents.version = PW_VERSION_CORE_EVENTS;
    p.coreEvents.error = &Pw::onCoreError;
    p.registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
    p.registryEvents.global_remove = &Pw::onGlobalRemove;
    p.node = node;
    p.streamEvents.version = PW_VERSION_STREAM_EVENTS;
    p.streamEvents.state_changed = &Pw::onState;
    p.streamEvents.param_changed = &Pw::onParam;
    p.streamEvents.add_buffer = &Pw::onAddBuffer;
    p.streamEvents.remove_buffer = &Pw::onRemoveBuffer;
    p.streamEvents.process = &Pw::onProcess;

    p.loop = pw_thread_loop_new("tavik-cast", nullptr);
    if (p.loop) p.context = pw_context_new(pw_thread_loop_get_loop(p.loop), nullptr, 0);
    if (!p.loop || !p.context || pw_thread_loop_start(p.loop) < 0) {
        ::close(fd);
        return nullptr;
    }
    p.started = true;

    pw_thread_loop_lock(p.loop);
    p.core = pw_context_connect_fd(p.context, fd, nullptr, 0);  // owns fd from here, even on failure
    bool ok = p.core != nullptr;
    if (ok) {
        pw_core_add_listener(p.core, &p.coreListener, &p.coreEvents, &p);
        p.registry = pw_core_get_registry(p.core, PW_VERSION_REGISTRY, 0);
        if (p.registry) pw_registry_add_listener(p.registry, &p.registryListener, &p.registryEvents, &p);
        p.stream = pw_stream_new(p.core, "tavik-screen",
                                 pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                   PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        ok = p.stream != nullptr;
    }
    if (ok) {
        pw_stream_add_listener(p.stream, &p.streamListener, &p.streamEvents, &p);
        uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        spa_rectangle sizeDef = SPA_RECTANGLE(1920, 1080), sizeMin = SPA_RECTANGLE(1, 1),
                      sizeMax = SPA_RECTANGLE(uint32_t(kMaxFrameSide), uint32_t(kMaxFrameSide));
        spa_fraction rateDef = SPA_FRACTION(30, 1), rateMin = SPA_FRACTION(0, 1), rateMax = SPA_FRACTION(60, 1);
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
            SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(9, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                                   SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
                                   SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ABGR),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&sizeDef, &sizeMin, &sizeMax),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rateDef, &rateMin, &rateMax)));
        ok = pw_stream_connect(p.stream, PW_DIRECTION_INPUT, node,
                               pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params,
                               1) >= 0;
    }
    pw_thread_loop_unlock(p.loop);
    if (!ok) return nullptr;
    return s;
}

ScreencastStream::~ScreencastStream() = default;

bool ScreencastStream::alive() const { return pw_->alive.load(); }

}  // namespace tavik::desktop::wayland
