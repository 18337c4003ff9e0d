// Throughput of the image pipeline on 1920 x 1080 24-bit pictures: pre-scan without and with
// each effect, and a 64 x 48 panel at divisions 1, 8, 30. The BM_Desktop* cases run on a
// desktop-like picture (grid lines every 64 and 48 pixels, text, colour blocks), where every
// effect has work in every part of the image. Each result is also given as ratios to
// two copies of the same number of bytes: x_copy to a copy whose source and target are in cache,
// x_uncached to one whose source and target lie in a buffer larger than the last-level cache
// (the memory-bandwidth floor, comparable across machines). The copies are timed again beside
// the pass during the run and the counters are the medians of those ratios, which holds up on a
// loaded machine; the *_first counters use copies timed once before the run.
// Typical use: --benchmark_repetitions=5 --benchmark_report_aggregates_only=true (medians).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/dib_block.h"
#include "imaging/lumoutil.h"
#include "tests/imaging/desktop_picture.h"

namespace {

constexpr int kW = 1920, kH = 1080;
double gCopySeconds = 0;      // in-cache copy
double gUncachedSeconds = 0;  // copy from and to memory not in any cache

enum class Picture { Blank, Screen, Desktop };

// Bottom-up 24-bit rows of the desktop-like picture.
std::vector<uint8_t> desktopPixels() {
    const size_t stride = size_t(lumo::rowStride(24, kW));
    std::vector<uint8_t> px(stride * kH, 0);
    const std::vector<uint32_t> c = lumotest::desktopPicture(kW, kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            uint8_t* p = px.data() + size_t(kH - 1 - y) * stride + 3 * size_t(x);
            const uint32_t v = c[size_t(y) * kW + size_t(x)];
            p[0] = uint8_t(v);
            p[1] = uint8_t(v >> 8);
            p[2] = uint8_t(v >> 16);
        }
    return px;
}

// A screen-like picture: white, with dark text-like strokes, a ruled grid and a filled panel.
std::vector<uint8_t> makePixels(Picture kind) {
    if (kind == Picture::Desktop) return desktopPixels();
    const size_t stride = size_t(lumo::rowStride(24, kW));
    std::vector<uint8_t> px(stride * kH, 255);
    if (kind == Picture::Blank) return px;
    auto dot = [&](int x, int y, uint8_t v) {
        uint8_t* p = px.data() + size_t(kH - 1 - y) * stride + 3 * size_t(x);
        p[0] = p[1] = p[2] = v;
    };
    for (int y = 0; y < kH; y += 40)
        for (int x = 0; x < kW; ++x) dot(x, y, 0);
    for (int x = 0; x < kW; x += 160)
        for (int y = 0; y < kH; ++y) dot(x, y, 0);
    for (int y = 300; y < 500; ++y)
        for (int x = 400; x < 900; ++x) dot(x, y, 40);
    for (int line = 0; line < 20; ++line)
        for (int x = 1000; x < 1800; ++x)
            if ((x / 7) % 3) for (int t = 0; t < 3; ++t) dot(x, 600 + line * 20 + t, 20);
    return px;
}

// An opened 24-bit image whose pixels can be reset from a saved copy.
struct Bench {
    std::vector<uint8_t> original;
    ScanContext ctx{};
    BinCondition cond{};
    explicit Bench(Picture kind) : original(makePixels(kind)) {
        LumoDibBlock* block = lumo::allocBlock(40 + original.size());
        LumoBitmapInfoHeader h{};
        h.biSize = 40;
        h.biWidth = kW;
        h.biHeight = kH;
        h.biPlanes = 1;
        h.biBitCount = 24;
        h.biSizeImage = uint32_t(original.size());
        std::memcpy(block->data.get(), &h, 40);
        ctx.dib.hDib = block;
        lumoLockDib(&ctx.dib);
        reset();
        ctx.lpCondition = &cond;
        ctx.nLimitX = ctx.nLimitY = ctx.nHistRight = ctx.nHistBottom = -1;
        ctx.nCellWidth = ctx.nCellHeight = 1;
        ctx.nLineThickness = 2;
        ctx.nHLineLength = 30;
        ctx.nVLineLength = 20;
        ctx.nDepthLimit = 10;
    }
    ~Bench() { lumoCloseDib(&ctx.dib); }
    void reset() { std::memcpy(ctx.dib.lpBits, original.data(), original.size()); }
};

// Thread CPU time: the machine is shared, and waiting for a core is no part of the cost.
double now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Wall-clock time, for passes that use helper threads (their work is not the caller's CPU time).
double wallNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// The two copies every measured pass is compared with, timed again at each iteration right after
// the pass: on a shared machine the load changes from one moment to the next, and a ratio taken
// at the same moment cancels most of it. The uncached copy takes the next slice of a buffer of
// `slices` x size bytes (larger than the last-level cache), so source and target are cold.
struct CopyProbe {
    size_t size = 0, slices = 1, next = 0;
    std::vector<uint8_t> src, dst, warmSrc, warmDst;
    void init(size_t bytes, size_t n) {
        size = bytes;
        slices = n;
        src.assign(size * slices, 7);
        dst.assign(size * slices, 1);
        warmSrc.assign(size, 7);
        warmDst.assign(size, 1);
    }
    template <class Clock>
    double uncached(Clock clock) {
        const size_t at = size * next;
        next = (next + 1) % slices;
        const double t0 = clock();
        std::memcpy(dst.data() + at, src.data() + at, size);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
        return clock() - t0;
    }
    template <class Clock>
    double inCache(Clock clock) {
        std::memcpy(warmDst.data(), warmSrc.data(), size);  // bring both into the cache
        const double t0 = clock();
        std::memcpy(warmDst.data(), warmSrc.data(), size);
        benchmark::DoNotOptimize(warmDst.data());
        benchmark::ClobberMemory();
        return clock() - t0;
    }
};
CopyProbe gProbe;

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// Times op and, every millisecond or so of it, the two copies. The picture is written afresh
// before each pass with resetEachTime (the pre-scan changes it), else after each pair of copies
// (which push it out of the cache): either way it is in the cache, as a capture leaves it.
// Counters: x_copy and x_uncached are the medians of the per-iteration ratios; x_copy_best is the
// fastest pass over the fastest in-cache copy of the run (other load only ever adds time, so on a
// shared machine it moves least); x_copy_first and x_uncached_first compare the mean time with
// the copies measured once before the run.
template <class F>
void timed(benchmark::State& state, F&& op, bool resetEachTime, Bench* b, bool wall = false) {
    double total = 0, sinceProbe = 0;
    int64_t runsSinceProbe = 0;
    auto clock = wall ? wallNow : now;
    std::vector<double> toCopy, toUncached;
    double bestPass = 0, bestCopy = 0;  // the fastest pass (group mean) and in-cache copy seen
    bool cold = true;
    for (auto _ : state) {
        if (resetEachTime || cold) b->reset();
        cold = false;
        const double t0 = clock();
        op();
        const double s = clock() - t0;
        state.SetIterationTime(s);
        total += s;
        sinceProbe += s;
        ++runsSinceProbe;
        // Short passes are compared in groups (their mean since the last probe), so that the
        // copies do not take most of the run.
        if (sinceProbe < 1e-3) continue;
        const double mean = sinceProbe / double(runsSinceProbe);
        const double u = gProbe.uncached(clock), c = gProbe.inCache(clock);
        if (u > 0) toUncached.push_back(mean / u);
        if (c > 0) toCopy.push_back(mean / c);
        if (bestPass == 0 || mean < bestPass) bestPass = mean;
        if (c > 0 && (bestCopy == 0 || c < bestCopy)) bestCopy = c;
        sinceProbe = 0;
        runsSinceProbe = 0;
        cold = true;
    }
    if (state.iterations() > 0) {
        if (!toCopy.empty()) state.counters["x_copy"] = median(toCopy);
        if (bestCopy > 0) state.counters["x_copy_best"] = bestPass / bestCopy;
        if (!toUncached.empty()) state.counters["x_uncached"] = median(toUncached);
        if (gCopySeconds > 0) {
            const double mean = total / double(state.iterations());
            state.counters["x_copy_first"] = mean / gCopySeconds;
            state.counters["x_uncached_first"] = mean / gUncachedSeconds;
        }
    }
}

void BM_Memcpy(benchmark::State& state) {
    Bench b(Picture::Screen);
    std::vector<uint8_t> dst(b.original.size());
    timed(state, [&] {
        std::memcpy(dst.data(), b.ctx.dib.lpBits, dst.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }, false, &b);
}

void BM_PreScan(benchmark::State& state) {
    Bench b(Picture::Screen);
    const uint16_t effect = uint16_t(state.range(0));
    timed(state, [&] {
        b.cond.bMode = uint16_t(BIN_DARK | effect);
        b.cond.bThreshfold = 128;
        benchmark::DoNotOptimize(lumoPreScan(&b.ctx));
    }, true, &b);
}

// The same with the pre-scan's helper threads (wall-clock time; the machine's other load counts).
void BM_PreScanThreads(benchmark::State& state) {
    Bench b(Picture::Screen);
    const uint16_t effect = uint16_t(state.range(0));
    lumoSetScanThreads(int32_t(state.range(1)));
    timed(state, [&] {
        b.cond.bMode = uint16_t(BIN_DARK | effect);
        b.cond.bThreshfold = 128;
        benchmark::DoNotOptimize(lumoPreScan(&b.ctx));
    }, true, &b, true);
    lumoSetScanThreads(1);
}

void BM_SetPanel(benchmark::State& state) {
    Bench b(Picture::Blank);  // nothing matches: every cell is scanned to its end (the worst case)
    b.cond.bMode = BIN_DARK;
    b.cond.bThreshfold = 128;
    b.ctx.nCellWidth = b.ctx.nCellHeight = int32_t(state.range(0));
    DotPanel* panel = lumoNewPanel(64, 48);
    timed(state, [&] {
        lumoSetPanel(&b.ctx, panel);
        benchmark::DoNotOptimize(panel->lpData);
    }, false, &b);
    lumoFreePanel(panel);
}

void BM_SetPanelPrescanned(benchmark::State& state) {
    Bench b(Picture::Blank);
    b.cond.bMode = BIN_DARK;
    b.cond.bThreshfold = 128;
    lumoPreScan(&b.ctx);
    b.ctx.nCellWidth = b.ctx.nCellHeight = int32_t(state.range(0));
    DotPanel* panel = lumoNewPanel(64, 48);
    timed(state, [&] {
        lumoSetPanel(&b.ctx, panel);
        benchmark::DoNotOptimize(panel->lpData);
    }, false, &b);
    lumoFreePanel(panel);
}

void BM_DesktopPreScan(benchmark::State& state) {
    Bench b(Picture::Desktop);
    const uint16_t effect = uint16_t(state.range(0));
    timed(state, [&] {
        b.cond.bMode = uint16_t(BIN_DARK | effect);
        b.cond.bThreshfold = 128;
        benchmark::DoNotOptimize(lumoPreScan(&b.ctx));
    }, true, &b);
}

void BM_DesktopSetPanel(benchmark::State& state) {
    Bench b(Picture::Desktop);
    b.cond.bMode = BIN_DARK;
    b.cond.bThreshfold = 128;
    b.ctx.nCellWidth = b.ctx.nCellHeight = int32_t(state.range(0));
    DotPanel* panel = lumoNewPanel(64, 48);
    timed(state, [&] {
        lumoSetPanel(&b.ctx, panel);
        benchmark::DoNotOptimize(panel->lpData);
    }, false, &b);
    lumoFreePanel(panel);
}

// The median of runs copies of size bytes; with slices > 1 each copy takes the next slice of a
// buffer of slices x size bytes, so source and target have left the cache since their last use.
double measureCopy(size_t size, size_t slices, int runs) {
    std::vector<uint8_t> src(size * slices, 7), dst(size * slices, 1);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const size_t at = size * (size_t(i) % slices);
        const double t0 = now();
        std::memcpy(dst.data() + at, src.data() + at, size);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
        times.push_back(now() - t0);
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    return times[size_t(runs / 2)];
}

// Size of the last-level cache in bytes, from sysfs (the highest cache level of cpu 0), else
// from sysconf, else 32 MiB.
size_t lastLevelCache() {
    size_t best = 0;
    for (int i = 0; i < 8; ++i) {
        const std::string dir = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(i) + "/";
        std::FILE* f = std::fopen((dir + "size").c_str(), "r");
        if (!f) continue;
        unsigned long kib = 0;
        char unit = 'K';
        if (std::fscanf(f, "%lu%c", &kib, &unit) >= 1) best = std::max<size_t>(best, unit == 'M' ? kib << 20 : kib << 10);
        std::fclose(f);
    }
    if (best) return best;
    const long llc = sysconf(_SC_LEVEL3_CACHE_SIZE);
    return llc > 0 ? size_t(llc) : size_t{32} << 20;
}

}  // namespace

BENCHMARK(BM_Memcpy)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PreScan)->Arg(0)->Arg(BIN_ERASE_GRID)->Arg(BIN_OUTLINE)->Arg(BIN_CHARACTER)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PreScanThreads)->Args({0, 2})->Args({BIN_OUTLINE, 2})->Args({BIN_CHARACTER, 2})->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetPanel)->Arg(1)->Arg(8)->Arg(30)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetPanelPrescanned)->Arg(30)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DesktopPreScan)->Arg(0)->Arg(BIN_ERASE_GRID)->Arg(BIN_OUTLINE)->Arg(BIN_CHARACTER)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DesktopSetPanel)->Arg(8)->Arg(30)->UseManualTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    const size_t bytes = size_t(lumo::rowStride(24, kW)) * kH;
    gCopySeconds = measureCopy(bytes, 1, 101);
    // Source and target together four times the last-level cache.
    const size_t slices = std::max<size_t>(4, 2 * lastLevelCache() / bytes + 1);
    gUncachedSeconds = measureCopy(bytes, slices, int(std::max<size_t>(101, 4 * slices + 1)));
    gProbe.init(bytes, slices);
    std::printf("copy of %zu bytes: in cache %.1f us, uncached %.1f us (buffer %zu MiB, last-level cache %zu MiB)\n",
                bytes, gCopySeconds * 1e6, gUncachedSeconds * 1e6, 2 * slices * bytes >> 20, lastLevelCache() >> 20);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
