// Fuzz target for the values the screen viewer reads from "Lumo share data" and "Lumo hook
// data", which other processes write at any time. The input is a script: writes of any value into
// the view records, the share's header and tail and the hook records, interleaved with the
// viewer's steps that read them: record selection, navigation commands, view frame placement,
// the hand-over, the refresh pass and the focus tracking. The screen capture is replaced by a
// small patterned bitmap so the pass goes on through pre-scan, panel, overlays and text line.
// Whatever the sections hold, a view frame never leaves the screen and a capture is never
// larger than the screen, the windows or the pins at the device's largest cells allow.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imaging/lumoutil.h"
#include "screenviewer/sections.h"
#include "screenviewer/viewer.h"
#include "tests/screenviewer/fake_desk.h"

using namespace lumo;

namespace {

// Captures of the pass: a bitmap of the asked size with a pattern, or nothing for an area a
// real screen could not give quickly.
uint8_t gPattern = 0;
bool gNoScreen = false;

// The largest capture the world below allows: its screen and windows (2000 x 1500 at most)
// with a pin's rounding, or 48 x 32 pins at 64 pixels.
constexpr int32_t kMaxCaptureWidth = 3072;
constexpr int32_t kMaxCaptureHeight = 2048;

class Script {
public:
    Script(const uint8_t* d, size_t n) : d_(d), n_(n) {}
    bool more() const { return i_ < n_; }
    uint8_t u8() { return i_ < n_ ? d_[i_++] : 0; }
    uint16_t u16() { return uint16_t(u8() | (u8() << 8)); }
    uint32_t u32() { return uint32_t(u16()) | (uint32_t(u16()) << 16); }
    int32_t i32() { return int32_t(u32()); }
    uint64_t u64() { return uint64_t(u32()) | (uint64_t(u32()) << 32); }
    int8_t i8() { return int8_t(u8()); }

private:
    const uint8_t* d_;
    size_t n_;
    size_t i_ = 0;
};

// Window ids the fake desktop knows (1..3), the screen (0) and ids that name no window.
WindowId windowId(Script& s) {
    static constexpr WindowId kIds[] = {0, 1, 2, 3, 4, 0xFFFFFFFFu, ~WindowId(0), WindowId(1) << 40};
    const uint8_t b = s.u8();
    return b < 0xF0 ? kIds[b % 8] : s.u64();
}

template <typename T>
void put(void* base, size_t offset, T v) {
    std::memcpy(static_cast<uint8_t*>(base) + offset, &v, sizeof v);
}

// The two sections, allocated once and reset by every input: a fresh 300 KB
// allocation per input cost more than the input's own steps (a mapping, its
// page faults and its release every time).
ViewerShare& shareSection() {
    static const std::unique_ptr<ViewerShare> share = std::make_unique<ViewerShare>();
    return *share;
}

HookData& hookSection() {
    static const std::unique_ptr<HookData> hook = std::make_unique<HookData>();
    return *hook;
}

struct Rig {
    ViewerShare* share = &shareSection();
    HookData* hook = &hookSection();
    FakeWorld world;
    std::unique_ptr<Viewer> viewer;
    uint64_t sends = 0;

    explicit Rig(Script& s) {
        initialiseShare(*share);
        std::memset(hook, 0, sizeof *hook);
        hook->initialised = 1;
        world.screen = {0, 0, 1920, 1080};
        world.windows[1] = {{100, 80, 640, 480}, {104, 110, 632, 446}, 501};
        world.windows[2] = {{-50, -30, 300, 200}, {-46, -4, 292, 170}, 502};
        world.windows[3] = {{1800, 1000, 2000, 1500}, {1800, 1000, 1, 1}, 503};
        world.active = 1;
        const uint8_t setup = s.u8();
        const DeviceConfig cfg = setup & 1 ? configForCode(3, "QX-64X48") : configForCode(1, "Pinora PX-1");
        gPattern = s.u8();
        gNoScreen = false;
        const DeviceSink sink{[this](const uint8_t* p1, const uint8_t* p2, int) {
                                  const DotPanel& m = viewer->mainPanel();
                                  // Every byte of a plane is read, as the device link would.
                                  for (const uint8_t* p : {p1, p2})
                                      if (p)
                                          for (int32_t i = 0; i < m.nSize; ++i) sends += p[i];
                                  return 1;
                              },
                              [this](const uint8_t* cells) {
                                  for (int i = 0; i < viewer->device().textCells; ++i) sends += cells[i];
                                  return 1;
                              }};
        viewer = std::make_unique<Viewer>(*share, setup & 2 ? hook : nullptr, cfg,
                                          std::make_unique<FakeDesk>(world), std::make_unique<FakeDesk>(world), sink);
        viewer->setScanningMode(ScanningMode((setup >> 2) % 3));
    }

    void step(Script& s) {
        Viewer& v = *viewer;
        switch (s.u8() % 32) {
        case 0: {  // a 32-bit field of a view record
            const uint8_t rec = s.u8();
            const size_t off = (s.u16() % sizeof(ViewRecord)) & ~size_t(3);
            put(&share->records[rec], off, s.i32());
            break;
        }
        case 1: {  // a 32-bit field of the header or the tail
            const uint8_t at = s.u8();
            const size_t off = at < 128 ? (at % 56) & ~size_t(3)
                                        : offsetof(ViewerShare, useCounter) +
                                              ((at % (kShareSize - offsetof(ViewerShare, useCounter))) & ~size_t(3));
            put(share, off, s.i32());
            break;
        }
        case 2: {  // a window of a record
            const uint8_t rec = s.u8();
            const bool key = s.u8() & 1;
            (key ? share->records[rec].keyWindow : share->records[rec].captureWindow) = windowId(s);
            break;
        }
        case 3: {  // a field of a hook record
            const uint8_t rec = s.u8() % kHookRecordCount;
            const size_t off = (s.u8() % sizeof(HookThreadRecord)) & ~size_t(3);
            put(&hook->threads[rec], off, s.i32());
            break;
        }
        case 4: {
            const uint8_t rec = s.u8() % kHookRecordCount;
            hook->threads[rec].window = windowId(s);
            break;
        }
        case 5: {  // a window field of the header
            static constexpr size_t kAt[] = {offsetof(ViewerShare, dialogWindow), offsetof(ViewerShare, lastForeground),
                                             offsetof(ViewerShare, targetWindow), offsetof(ViewerShare, frameWindow)};
            const size_t off = kAt[s.u8() % 4];
            put(share, off, windowId(s));
            break;
        }
        case 6: v.publishView(s.u8() & 1); break;
        case 7: v.takeHandOver(); break;
        case 8:
            if (++passes_ <= kMaxPasses) v.refreshView(s.u8() & 1);
            break;
        case 9: v.trackForeground(); break;
        case 10: v.watchPass(); break;
        case 11: {
            const int dx = s.i8(), dy = s.i8();
            v.pan(dx, dy);
            break;
        }
        case 12: {
            const int dx = s.i8(), dy = s.i8();
            v.panScope(dx, dy);
            break;
        }
        case 13: v.jumpTo(s.u8() % 11); break;
        case 14:
        case 15: {
            const auto anchor = ZoomAnchor(s.u8() % 6);
            const int32_t px = s.i32(), py = s.i32();
            if (s.u8() & 1) v.zoomIn(anchor, px, py);
            else v.zoomOut(anchor, px, py);
            break;
        }
        case 16: {
            const int32_t x = s.i32(), y = s.i32();
            v.centreOn(x, y);
            break;
        }
        case 17: {
            const int32_t x = s.i32(), y = s.i32();
            v.contain(x, y);
            break;
        }
        case 18: v.toggleOverview(); break;
        case 19: v.toggleViewScope(); break;
        case 20: v.fullScreen(); break;
        case 21: v.applicationWindow(); break;
        case 22: v.toggleFocusSync(); break;
        case 23: v.wholeScreenFromWindow(); break;
        case 24: v.setScanningMode(ScanningMode(s.u8() % 3)); break;
        case 25: {  // the window in front changes, closes, or is one the desktop does not know
            const WindowId w = windowId(s);
            world.active = w;
            if (s.u8() % 4 == 0) world.windows.erase(w);
            break;
        }
        case 26: v.setFrameEnabled(s.u8() & 1); break;
        case 27: v.toggleMouseSync(); break;
        case 28: v.forceRefresh(); break;
        case 29: v.hideViewFrame(); break;
        case 30: gNoScreen = s.u8() & 1; break;
        default: {  // a whole pass as the threads run it
            v.publishView(s.u8() & 1);
            if (v.takeHandOver() && ++passes_ <= kMaxPasses) v.refreshView(false);
            break;
        }
        }
        const int i = v.currentIndex();
        if (i < 0 || i >= kRecordCount) std::abort();
        // Every frame shown lies on the screen.
        for (const Rect& f : world.frames)
            if (f.width <= 0 || f.height <= 0 || f.x < world.screen.x || f.y < world.screen.y ||
                int64_t(f.x) + f.width > int64_t(world.screen.x) + world.screen.width ||
                int64_t(f.y) + f.height > int64_t(world.screen.y) + world.screen.height)
                std::abort();
        world.frames.clear();
    }

private:
    // Passes per input: each captures and maps a picture; more add time, not paths.
    static constexpr int kMaxPasses = 12;
    int passes_ = 0;
};

}  // namespace

// The pass's capture, in place of the screen's.
extern "C" int32_t lumoAreaCheck(CaptureArea* area) {
    if (area && (area->cx > kMaxCaptureWidth || area->cy > kMaxCaptureHeight)) std::abort();
    return area && !gNoScreen ? 1 : 0;
}

extern "C" LumoHBITMAP lumoGetBmp(CaptureArea* area) {
    if (!area || gNoScreen) return nullptr;
    const int64_t w = int64_t(area->cx) + area->nMarginLeft + area->nMarginRight;
    const int64_t h = int64_t(area->cy) + area->nMarginTop + area->nMarginBottom;
    // Larger areas only slow the search: the pass handles a failed capture as any other.
    if (w <= 0 || h <= 0 || w * h > (int64_t(1) << 17)) return nullptr;
    LumoHBITMAP b = lumoCreateBitmap(int32_t(w), int32_t(h));
    if (!b) return nullptr;
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x)
            b->lpPixels[y * w + x] = ((x ^ y) & (gPattern | 1)) ? 0xFFFFFFu : uint32_t(gPattern) * 0x010101u;
    return b;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Script s(data, size);
    Rig rig(s);
    int steps = 0;
    while (s.more() && ++steps <= 256) rig.step(s);
    // To see how far the seeds reach: LUMO_FUZZ_STATS=1 lumo_sections_replay corpus
    if (std::getenv("LUMO_FUZZ_STATS")) {
        const auto& st = rig.viewer->stats();
        std::fprintf(stderr, "passes %llu captures %llu graphic %llu text %llu\n",
                     (unsigned long long)st.passes.load(), (unsigned long long)st.captures.load(),
                     (unsigned long long)st.graphicSends.load(), (unsigned long long)st.textSends.load());
    }
    return 0;
}
