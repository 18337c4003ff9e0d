// A stand-in for the desktop portal's screen cast, for sessions without a GPU (where the wlroots
// portal cannot cast): owns org.freedesktop.portal.Desktop on the session bus, answers
// CreateSession, SelectSources, Start and OpenPipeWireRemote as the portal does (requests answered
// by Response signals, a restore token handed out), and plays a 640x480 BGRx PipeWire video source
// of known content: the picture of pattern_window.cpp. SIGUSR1 flips the black block at
// (300, 200) white and back. Buffers carry damage metadata (the changed block only) when the
// consumer asks for it. Logs one line per request on stdout ("select restore_token=... ").
//   fake_screencast_portal [--silent | --no-pipewire]
//     --silent: never answer Start; --no-pipewire: no source, OpenPipeWireRemote fails (as the
//     portal does when PipeWire is not running)
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr int kFlipX = 300, kFlipY = 200, kFlipW = 80, kFlipH = 120;

std::atomic<int> gFlips{0};
bool gSilent = false;
bool gNoPipeWire = false;
int gTokens = 0;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// ---- The picture ----

void fillRect(uint8_t* px, int stride, int x, int y, int w, int h, uint32_t rgb) {
    for (int r = y; r < y + h; ++r)
        for (int c = x; c < x + w; ++c) {
            uint8_t* p = px + size_t(r) * size_t(stride) + size_t(c) * 4;
            p[0] = uint8_t(rgb), p[1] = uint8_t(rgb >> 8), p[2] = uint8_t(rgb >> 16), p[3] = 0xFF;
        }
}

void paint(uint8_t* px, int stride, bool flipped) {
    fillRect(px, stride, 0, 0, kWidth, kHeight, 0xFFFFFF);
    fillRect(px, stride, 10, 6, 24, 12, 0x000000);
    fillRect(px, stride, 40, 20, 8, 22, 0x000000);
    fillRect(px, stride, 4, 30, 14, 10, 0x202020);
    fillRect(px, stride, 52, 4, 6, 6, 0x000000);
    fillRect(px, stride, 120, 90, 200, 60, 0x606060);
    fillRect(px, stride, 400, 40, 40, 30, 0x3060C0);
    fillRect(px, stride, kFlipX, kFlipY, kFlipW, kFlipH, flipped ? 0xFFFFFF : 0x000000);
}

// ---- The PipeWire source ----

struct Source {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    pw_stream_events events{};
    spa_source* timer = nullptr;
    int shownFlips = -1;  // flips in the last frame sent (-1: none sent)
    std::atomic<uint32_t> node{SPA_ID_INVALID};
};

Source gSource;

void onParam(void*, uint32_t id, const spa_pod* param) {
    if (!param || id != SPA_PARAM_Format) return;
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[3];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(kWidth * kHeight * 4), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(kWidth * 4),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd)));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoDamage),
        SPA_PARAM_META_size, SPA_POD_CHOICE_RANGE_Int(sizeof(spa_meta_region) * 4, sizeof(spa_meta_region),
                                                      sizeof(spa_meta_region) * 4)));
    pw_stream_update_params(gSource.stream, params, 3);
}

void onState(void*, pw_stream_state, pw_stream_state state, const char* error) {
    if (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING)
        gSource.node = pw_stream_get_node_id(gSource.stream);
    say(std::string("stream ") + pw_stream_state_as_string(state) + (error ? std::string(" ") + error : ""));
}

void onProcess(void*) {
    pw_buffer* b = pw_stream_dequeue_buffer(gSource.stream);
    if (!b) return;
    spa_buffer* buf = b->buffer;
    spa_data& d = buf->datas[0];
    if (!d.data || d.maxsize < uint32_t(kWidth * kHeight * 4)) {
        pw_stream_queue_buffer(gSource.stream, b);
        return;
    }
    const int flips = gFlips.load();
    // Buffers are reused round robin: paint each whole, report only what changed since the last frame.
    paint(static_cast<uint8_t*>(d.data), kWidth * 4, flips % 2 == 1);
    d.chunk->offset = 0;
    d.chunk->size = kWidth * kHeight * 4;
    d.chunk->stride = kWidth * 4;
    d.chunk->flags = 0;
    if (spa_meta* m = spa_buffer_find_meta(buf, SPA_META_VideoDamage)) {
        auto* r = static_cast<spa_meta_region*>(m->data);
        const size_t n = m->size / sizeof(spa_meta_region);
        if (n > 0) {
            if (gSource.shownFlips < 0) r[0].region = SPA_REGION(0, 0, kWidth, kHeight);
            else if (flips != gSource.shownFlips) r[0].region = SPA_REGION(kFlipX, kFlipY, kFlipW, kFlipH);
            else r[0].region = SPA_REGION(0, 0, 0, 0);
            if (n > 1) r[1].region = SPA_REGION(0, 0, 0, 0);
        }
    }
    gSource.shownFlips = flips;
    pw_stream_queue_buffer(gSource.stream, b);
}

void onTimer(void*, uint64_t) { pw_stream_trigger_process(gSource.stream); }

bool startSource() {
    pw_init(nullptr, nullptr);
    gSource.loop = pw_thread_loop_new("fake-cast", nullptr);
    gSource.context = pw_context_new(pw_thread_loop_get_loop(gSource.loop), nullptr, 0);
    if (pw_thread_loop_start(gSource.loop) < 0) return false;
    pw_thread_loop_lock(gSource.loop);
    gSource.core = pw_context_connect(gSource.context, nullptr, 0);
    if (!gSource.core) {
        pw_thread_loop_unlock(gSource.loop);
        return false;
    }
    gSource.stream = pw_stream_new(gSource.core, "fake-screen",
                                   pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video",
                                                     PW_KEY_MEDIA_CATEGORY, "Source", nullptr));
    gSource.events.version = PW_VERSION_STREAM_EVENTS;
    gSource.events.param_changed = onParam;
    gSource.events.state_changed = onState;
    gSource.events.process = onProcess;
    pw_stream_add_listener(gSource.stream, &gSource.listener, &gSource.events, nullptr);
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle size = SPA_RECTANGLE(kWidth, kHeight);
    spa_fraction rate = SPA_FRACTION(10, 1);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
    const int rc = pw_stream_connect(
        gSource.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
        pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    // A frame every 100 ms.
    gSource.timer = pw_loop_add_timer(pw_thread_loop_get_loop(gSource.loop), onTimer, nullptr);
    timespec first{0, 100 * 1000 * 1000}, every{0, 100 * 1000 * 1000};
    pw_loop_update_timer(pw_thread_loop_get_loop(gSource.loop), gSource.timer, &first, &every, false);
    pw_thread_loop_unlock(gSource.loop);
    return rc >= 0;
}

// A new connection to the PipeWire daemon, handed to the consumer as the portal does.
int pipeWireConnection() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (!dir) return -1;
    const std::string path = std::string(dir) + "/pipewire-0";
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) return -1;
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// ---- The portal ----

const char* kXml =
    "<node><interface name='org.freedesktop.portal.ScreenCast'>"
    "<method name='CreateSession'><arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
    "<method name='SelectSources'><arg type='o' direction='in'/><arg type='a{sv}' direction='in'/>"
    "<arg type='o' direction='out'/></method>"
    "<method name='Start'><arg type='o' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
    "<method name='OpenPipeWireRemote'><arg type='o' direction='in'/><arg type='a{sv}' direction='in'/>"
    "<arg type='h' direction='out'/></method>"
    "<property name='AvailableSourceTypes' type='u' access='read'/>"
    "<property name='AvailableCursorModes' type='u' access='read'/>"
    "<property name='version' type='u' access='read'/>"
    "</interface></node>";

std::string senderPart(const char* sender) {
    std::string s = sender && sender[0] == ':' ? sender + 1 : "";
    for (char& c : s)
        if (c == '.') c = '_';
    return s;
}

std::string option(GVariant* opts, const char* key) {
    const char* v = nullptr;
    if (opts && g_variant_lookup(opts, key, "&s", &v)) return v;
    return {};
}

struct PendingResponse {
    GDBusConnection* conn;
    std::string path;
    GVariant* results;
};

gboolean sendResponse(gpointer data) {
    const std::unique_ptr<PendingResponse> p(static_cast<PendingResponse*>(data));
    g_dbus_connection_emit_signal(p->conn, nullptr, p->path.c_str(), "org.freedesktop.portal.Request", "Response",
                                  g_variant_new("(u@a{sv})", 0u, p->results), nullptr);
    g_variant_unref(p->results);
    return G_SOURCE_REMOVE;
}

// Returns the request handle and answers it a moment later (after the reply), as the portal does.
void answer(GDBusMethodInvocation* inv, GVariant* opts, GVariant* results) {
    const std::string handle = "/org/freedesktop/portal/desktop/request/" +
                               senderPart(g_dbus_method_invocation_get_sender(inv)) + "/" +
                               option(opts, "handle_token");
    g_dbus_method_invocation_return_value(inv, g_variant_new("(o)", handle.c_str()));
    if (!results) return;  // silent
    g_idle_add(sendResponse, std::make_unique<PendingResponse>(PendingResponse{
                                 g_dbus_method_invocation_get_connection(inv), handle, g_variant_ref_sink(results)})
                                 .release());
}

void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* params,
            GDBusMethodInvocation* inv, gpointer) {
    GVariantBuilder r;
    g_variant_builder_init(&r, G_VARIANT_TYPE_VARDICT);
    if (std::strcmp(method, "CreateSession") == 0) {
        GVariant* opts = nullptr;
        g_variant_get(params, "(@a{sv})", &opts);
        const std::string session = "/org/freedesktop/portal/desktop/session/" +
                                    senderPart(g_dbus_method_invocation_get_sender(inv)) + "/" +
                                    option(opts, "session_handle_token");
        say("create");
        g_variant_builder_add(&r, "{sv}", "session_handle", g_variant_new_string(session.c_str()));
        answer(inv, opts, g_variant_builder_end(&r));
        g_variant_unref(opts);
    } else if (std::strcmp(method, "SelectSources") == 0) {
        GVariant* opts = nullptr;
        const char* session = nullptr;
        g_variant_get(params, "(&o@a{sv})", &session, &opts);
        uint32_t persist = 0, types = 0;
        g_variant_lookup(opts, "persist_mode", "u", &persist);
        g_variant_lookup(opts, "types", "u", &types);
        say("select types=" + std::to_string(types) + " persist_mode=" + std::to_string(persist) +
            " restore_token=" + option(opts, "restore_token"));
        answer(inv, opts, g_variant_builder_end(&r));
        g_variant_unref(opts);
    } else if (std::strcmp(method, "Start") == 0) {
        GVariant* opts = nullptr;
        const char* session = nullptr;
        const char* parent = nullptr;
        g_variant_get(params, "(&o&s@a{sv})", &session, &parent, &opts);
        say("start");
        GVariantBuilder props;
        g_variant_builder_init(&props, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&props, "{sv}", "position", g_variant_new("(ii)", 0, 0));
        g_variant_builder_add(&props, "{sv}", "size", g_variant_new("(ii)", kWidth, kHeight));
        g_variant_builder_add(&props, "{sv}", "source_type", g_variant_new_uint32(1));
        GVariantBuilder streams;
        g_variant_builder_init(&streams, G_VARIANT_TYPE("a(ua{sv})"));
        g_variant_builder_add(&streams, "(u@a{sv})", gSource.node.load(), g_variant_builder_end(&props));
        g_variant_builder_add(&r, "{sv}", "streams", g_variant_builder_end(&streams));
        const std::string token = "fake-token-" + std::to_string(++gTokens);
        g_variant_builder_add(&r, "{sv}", "restore_token", g_variant_new_string(token.c_str()));
        GVariant* results = g_variant_builder_end(&r);
        if (gSilent) {
            g_variant_unref(g_variant_ref_sink(results));
            results = nullptr;
        }
        answer(inv, opts, results);
        g_variant_unref(opts);
    } else if (std::strcmp(method, "OpenPipeWireRemote") == 0) {
        const int fd = gNoPipeWire ? -1 : pipeWireConnection();
        say(fd >= 0 ? "remote" : "remote failed");
        if (fd < 0) {
            g_variant_builder_clear(&r);
            g_dbus_method_invocation_return_dbus_error(inv, "org.freedesktop.portal.Error.Failed", "no PipeWire");
            return;
        }
        GUnixFDList* fds = g_unix_fd_list_new_from_array(&fd, 1);  // takes the fd
        g_dbus_method_invocation_return_value_with_unix_fd_list(inv, g_variant_new("(h)", 0), fds);
        g_object_unref(fds);
    } else {
        g_dbus_method_invocation_return_dbus_error(inv, "org.freedesktop.DBus.Error.UnknownMethod", method);
    }
    g_variant_builder_clear(&r);
}

GVariant* onGet(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**, gpointer) {
    if (std::strcmp(name, "version") == 0) return g_variant_new_uint32(4);
    if (std::strcmp(name, "AvailableSourceTypes") == 0) return g_variant_new_uint32(1);
    return g_variant_new_uint32(1);
}

void onFlipSignal(int) { gFlips.fetch_add(1); }

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--silent") == 0) gSilent = true;
        else if (std::strcmp(argv[i], "--no-pipewire") == 0) gNoPipeWire = true;
    std::signal(SIGUSR1, onFlipSignal);
    if (gNoPipeWire) gSource.node = 0;
    else if (!startSource()) {
        say("no pipewire");
        return 1;
    }
    for (int i = 0; i < 100 && gSource.node.load() == SPA_ID_INVALID; ++i) g_usleep(50 * 1000);
    if (gSource.node.load() == SPA_ID_INVALID) {
        say("the source got no node");
        return 1;
    }
    GError* err = nullptr;
    GDBusConnection* conn = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &err);
    if (!conn) {
        say(std::string("no bus: ") + (err ? err->message : ""));
        return 1;
    }
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kXml, nullptr);
    static const GDBusInterfaceVTable vtable = {onCall, onGet, nullptr, {}};
    g_dbus_connection_register_object(conn, "/org/freedesktop/portal/desktop", info->interfaces[0], &vtable, nullptr,
                                      nullptr, nullptr);
    GVariant* owned = g_dbus_connection_call_sync(conn, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "RequestName",
                                                  // Replace an owner that allows it; never queue.
                                                  g_variant_new("(su)", "org.freedesktop.portal.Desktop", 2u | 4u),
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &err);
    uint32_t reply = 0;
    if (owned) {
        g_variant_get(owned, "(u)", &reply);
        g_variant_unref(owned);
    }
    if (reply != 1) {  // not the primary owner
        say("name not taken");
        return 1;
    }
    say("ready node=" + std::to_string(gSource.node.load()));
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
