// One refresh pass of the screen viewer at 1920 x 1080 in full-screen
// overview (capture through the desktop layer's MIT-SHM path, pre-scan, panel,
// compare; the device send is a no-op) against a plain copy of the captured
// pixels and against the capture alone, all in the same run on a private Xvfb; the image
// library's share of the pass; and the image library's capture with pre-scan, through its kept
// capture and through a new bitmap.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/desktop/desktop.h"
#include "screenviewer/sections.h"
#include "screenviewer/viewer.h"
#include "tests/support/x_helpers.h"
#include "tests/support/xvfb.h"

namespace {

constexpr int kW = 1920, kH = 1080;

// A screen with some windows of text-like strokes, made once.
struct Screen {
    tavik::test::Xvfb xvfb{"1920x1080x24"};
    Display* dpy = nullptr;
    Screen() {
        if (xvfb.display().empty()) return;
        ::setenv("DISPLAY", xvfb.display().c_str(), 1);
        XInitThreads();
        dpy = XOpenDisplay(xvfb.display().c_str());
        if (!dpy) return;
        const Window root = DefaultRootWindow(dpy);
        tavik::test::fill(dpy, root, 0, 0, kW, kH, 0x3060A0);
        for (int i = 0; i < 6; ++i) {
            const Window w = tavik::test::makeWindow(dpy, root, 60 + i * 290, 80 + (i % 3) * 300, 600, 420, 0xF0F0F0);
            for (int y = 10; y < 410; y += 14)
                for (int x = 8; x < 590; x += 9) tavik::test::fill(dpy, w, x, y, 5 + (x * y) % 3, 9, 0x101010);
        }
    }
    ~Screen() {
        if (dpy) XCloseDisplay(dpy);
    }
};

Screen& screen() {
    static Screen s;
    return s;
}

void BM_RefreshPassOverview(benchmark::State& state) {
    if (!screen().dpy) {
        state.SkipWithError("no Xvfb");
        return;
    }
    auto share = std::make_unique<lumo::ViewerShare>();
    lumo::initialiseShare(*share);
    auto hook = std::make_unique<lumo::HookData>();
    uint64_t sends = 0;
    lumo::DeviceSink sink{[&sends](const uint8_t*, const uint8_t*, int) { return int(++sends != 0); },
                          [](const uint8_t*) { return 1; }};
    lumo::Viewer viewer(*share, hook.get(), lumo::configForCode(3, "QX-64X48"), lumo::makeDesktopPort(),
                        lumo::makeDesktopPort(), sink);
    viewer.createThreads({});  // never resumed: the passes run here
    viewer.fullScreen();
    viewer.toggleOverview();
    for (auto _ : state) {
        viewer.publishView();
        viewer.takeHandOver();
        viewer.refreshView(false);
    }
    state.counters["cell"] = viewer.current().cellWidth;
    state.counters["captures"] = double(viewer.stats().captures.load());
}
BENCHMARK(BM_RefreshPassOverview)->Unit(benchmark::kMillisecond);

// The image library's share of that pass alone: capture with pre-scan through a kept capture and
// the panel, with the pass's own area, margins, cells and condition (the pass minus this is the
// viewer's own part: area check, damage, the condition's copies, compare, send, text line).
void BM_LibraryPartOfThePass(benchmark::State& state) {
    if (!screen().dpy) {
        state.SkipWithError("no Xvfb");
        return;
    }
    LumoHCAPTURE cap = lumoNewCapture();
    DotPanel* panel = lumoNewPanel(64, 48);
    for (auto _ : state) {
        CaptureArea a{0, 0, 0, 64 * 30, 48 * 30, 1, 1, 0, 30, 30, 20, 20};
        BinCondition cond{};
        cond.bMode = BIN_LIGHT | BIN_DARK;
        cond.fAutoThreshfold = 1;
        cond.bThreshfold = cond.bThreshfoldMin = cond.bThreshfoldMax = 128;
        ScanContext ctx{};
        ctx.lpCondition = &cond;
        if (!lumoAreaCheck(&a) || !lumoPlanCapture(cap, &a)) state.SkipWithError("capture failed");
        ctx.nOriginX = ctx.nHistLeft = a.nMarginLeft;
        ctx.nOriginY = ctx.nHistTop = a.nMarginTop;
        ctx.nLimitX = ctx.nHistRight = a.nMarginLeft + a.cx;
        ctx.nLimitY = ctx.nHistBottom = a.nMarginTop + a.cy;
        ctx.nCellWidth = ctx.nCellHeight = 30;
        ctx.nLineThickness = 2;
        ctx.nHLineLength = 30;
        ctx.nVLineLength = 20;
        ctx.nDepthLimit = 10;
        if (!lumoCapturePreScan(cap, &ctx)) state.SkipWithError("capture failed");
        lumoSetPanel(&ctx, panel);
        lumoCloseDib(&ctx.dib);
        benchmark::DoNotOptimize(panel->lpData);
    }
    lumoFreePanel(panel);
    lumoFreeCapture(cap);
}
BENCHMARK(BM_LibraryPartOfThePass)->Unit(benchmark::kMillisecond);

void BM_CaptureOnly(benchmark::State& state) {
    if (!screen().dpy) {
        state.SkipWithError("no Xvfb");
        return;
    }
    tavik::desktop::Desktop desk;
    std::vector<uint32_t> pixels(size_t(kW) * kH);
    for (auto _ : state) {
        desk.capture({0, 0, kW, kH}, pixels, kW);
        benchmark::DoNotOptimize(pixels.data());
    }
}
BENCHMARK(BM_CaptureOnly)->Unit(benchmark::kMillisecond);

// The image library alone on the full screen: capture and grey pre-scan with automatic threshold
// through a kept capture (one pass over the pixels) and through a new bitmap and DIB.
ScanContext screenScan(BinCondition& cond) {
    cond = BinCondition{};
    cond.fAutoThreshfold = 1;
    ScanContext ctx{};
    ctx.lpCondition = &cond;
    ctx.nLimitX = ctx.nHistRight = ctx.nLimitY = ctx.nHistBottom = -1;
    ctx.nCellWidth = ctx.nCellHeight = 30;
    return ctx;
}

CaptureArea wholeScreen() {
    CaptureArea a{};
    a.cx = a.cy = -1;
    return a;
}

void BM_LibraryKeptCapturePreScan(benchmark::State& state) {
    if (!screen().dpy) {
        state.SkipWithError("no Xvfb");
        return;
    }
    LumoHCAPTURE cap = lumoNewCapture();
    for (auto _ : state) {
        CaptureArea a = wholeScreen();
        BinCondition cond;
        ScanContext ctx = screenScan(cond);
        if (!lumoPlanCapture(cap, &a) || !lumoCapturePreScan(cap, &ctx)) state.SkipWithError("capture failed");
        lumoCloseDib(&ctx.dib);
    }
    lumoFreeCapture(cap);
}
BENCHMARK(BM_LibraryKeptCapturePreScan)->Unit(benchmark::kMillisecond);

void BM_LibraryBitmapCapturePreScan(benchmark::State& state) {
    if (!screen().dpy) {
        state.SkipWithError("no Xvfb");
        return;
    }
    for (auto _ : state) {
        CaptureArea a = wholeScreen();
        BinCondition cond;
        ScanContext ctx = screenScan(cond);
        ctx.dib.hBitmap = lumoGetBmp(&a);
        if (!ctx.dib.hBitmap || !lumoOpenDib(&ctx.dib) || !lumoPreScan(&ctx)) state.SkipWithError("capture failed");
        lumoDeleteBitmap(ctx.dib.hBitmap);
        lumoCloseDib(&ctx.dib);
    }
}
BENCHMARK(BM_LibraryBitmapCapturePreScan)->Unit(benchmark::kMillisecond);

void BM_PlainCopyOfCapturedPixels(benchmark::State& state) {
    if (!screen().dpy) {
        state.SkipWithError("no Xvfb");
        return;
    }
    tavik::desktop::Desktop desk;
    std::vector<uint32_t> captured(size_t(kW) * kH), copy(size_t(kW) * kH);
    desk.capture({0, 0, kW, kH}, captured, kW);
    for (auto _ : state) {
        std::copy(captured.begin(), captured.end(), copy.begin());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PlainCopyOfCapturedPixels)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
