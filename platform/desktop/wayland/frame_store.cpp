// Frame conversion, change detection and rectangle copies for the Wayland capture.
#include "platform/desktop/wayland/frame_store.h"

#include "platform/desktop/rect_math.h"

#include <algorithm>
#include <cstring>

namespace tavik::desktop::wayland {

namespace {

// Rows compared as one band: a change anywhere in the band reports the band's changed columns.
constexpr int32_t kBandRows = 32;
// Beyond this many separate damaged rectangles they are merged into their bounding box.
constexpr size_t kMaxDamageRects = 64;

template <PixelOrder O>
inline uint32_t toRgb(const uint8_t* p) {
    if constexpr (O == PixelOrder::BGRx) return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    else if constexpr (O == PixelOrder::RGBx) return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    else if constexpr (O == PixelOrder::xRGB) return uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    else return uint32_t{p[3]} << 16 | uint32_t{p[2]} << 8 | p[1];
}

// Converts the rectangle `r` of `src` into `dst` (rows `dstStride` pixels apart) and appends,
// band by band, the changed columns to `changed` when given.
template <PixelOrder O>
void convert(const uint8_t* src, int64_t srcStride, uint32_t* dst, size_t dstStride, Rect r,
             std::vector<Rect>* changed) {
    for (int32_t bandTop = r.top; bandTop < r.top + r.height; bandTop += kBandRows) {
        const int32_t bandEnd = std::min(bandTop + kBandRows, r.top + r.height);
        int32_t lo = INT32_MAX, hi = -1;
        for (int32_t y = bandTop; y < bandEnd; ++y) {
            const uint8_t* in = src + int64_t{y} * srcStride + int64_t{r.left} * 4;
            uint32_t* out = dst + size_t(y) * dstStride + size_t(r.left);
            int32_t rowLo = INT32_MAX, rowHi = -1;
            for (int32_t x = 0; x < r.width; ++x, in += 4) {
                const uint32_t v = toRgb<O>(in);
                if (v != out[x]) {
                    if (rowLo == INT32_MAX) rowLo = x;
                    rowHi = x;
                    out[x] = v;
                }
            }
            lo = std::min(lo, rowLo);
            hi = std::max(hi, rowHi);
        }
        if (changed && hi >= 0) changed->push_back({r.left + lo, bandTop, hi - lo + 1, bandEnd - bandTop});
    }
}

// `r` clipped to a width x height frame; empty (width 0) when outside.
Rect clip(Rect r, int32_t width, int32_t height) {
    const int64_t l = std::max<int64_t>(r.left, 0), t = std::max<int64_t>(r.top, 0);
    const int64_t ri = std::min<int64_t>(int64_t{r.left} + std::max(r.width, 0), width);
    const int64_t bo = std::min<int64_t>(int64_t{r.top} + std::max(r.height, 0), height);
    if (ri <= l || bo <= t) return {};
    return {static_cast<int32_t>(l), static_cast<int32_t>(t), static_cast<int32_t>(ri - l),
            static_cast<int32_t>(bo - t)};
}

}  // namespace

Rect visiblePart(Rect area, Size screen) {
    const Rect on = clip(area, screen.width, screen.height);
    if (on.width == 0) return {};
    return {static_cast<int32_t>(int64_t{on.left} - area.left), static_cast<int32_t>(int64_t{on.top} - area.top),
            on.width, on.height};
}

void FrameStore::convertRows(const uint8_t* src, int64_t srcStride, PixelOrder order, Rect r,
                             std::vector<Rect>* changed) {
    uint32_t* dst = pixels_.data();
    const size_t w = size_t(width_);
    switch (order) {
    case PixelOrder::BGRx: convert<PixelOrder::BGRx>(src, srcStride, dst, w, r, changed); break;
    case PixelOrder::RGBx: convert<PixelOrder::RGBx>(src, srcStride, dst, w, r, changed); break;
    case PixelOrder::xRGB: convert<PixelOrder::xRGB>(src, srcStride, dst, w, r, changed); break;
    case PixelOrder::xBGR: convert<PixelOrder::xBGR>(src, srcStride, dst, w, r, changed); break;
    }
}

bool FrameStore::put(std::span<const uint8_t> src, int64_t srcStride, int32_t width, int32_t height,
                     PixelOrder order, std::vector<Rect>& changed) {
    if (width < 1 || height < 1 || width > kMaxFrameSide || height > kMaxFrameSide) return false;
    if (srcStride < int64_t{width} * 4) return false;
    if (int64_t{height - 1} * srcStride + int64_t{width} * 4 > static_cast<int64_t>(src.size())) return false;
    const bool fresh = width != width_ || height != height_;
    if (fresh) {
        width_ = width;
        height_ = height;
        pixels_.assign(size_t(width) * size_t(height), 0);
    }
    convertRows(src.data(), srcStride, order, {0, 0, width, height}, fresh ? nullptr : &changed);
    if (fresh) changed.push_back({0, 0, width, height});
    return true;
}

bool FrameStore::putRegions(std::span<const uint8_t> src, int64_t srcStride, int32_t width, int32_t height,
                            PixelOrder order, std::span<const Rect> regions, std::vector<Rect>& changed) {
    if (width != width_ || height != height_) return put(src, srcStride, width, height, order, changed);
    if (srcStride < int64_t{width} * 4) return false;
    if (int64_t{height - 1} * srcStride + int64_t{width} * 4 > static_cast<int64_t>(src.size())) return false;
    for (const Rect& region : regions) {
        const Rect r = clip(region, width, height);
        if (r.width == 0) continue;
        convertRows(src.data(), srcStride, order, r, nullptr);
        changed.push_back(r);
    }
    return true;
}

DesktopStatus FrameStore::copy(Rect area, std::span<uint32_t> out, size_t stride) const {
    if (area.width < 0 || area.height < 0 || stride < size_t(area.width)) return DesktopStatus::Failed;
    if (area.height > 0 && area.width > 0) {
        const uint64_t need = uint64_t(area.height - 1) * stride + uint64_t(area.width);
        if (need > out.size()) return DesktopStatus::Failed;
    }
    if (empty()) return DesktopStatus::NoDisplay;
    const Rect on = visiblePart(area, size());
    for (int32_t r = 0; r < area.height; ++r) {
        uint32_t* row = out.data() + size_t(r) * stride;
        if (r < on.top || r >= on.top + on.height) {
            std::fill_n(row, size_t(area.width), 0u);
            continue;
        }
        std::fill_n(row, size_t(on.left), 0u);
        const uint32_t* in = pixels_.data() + size_t(int64_t{area.top} + r) * size_t(width_) +
                             size_t(int64_t{area.left} + on.left);
        std::memcpy(row + on.left, in, size_t(on.width) * sizeof(uint32_t));
        std::fill(row + on.left + on.width, row + area.width, 0u);
    }
    return DesktopStatus::Ok;
}

void DamageLog::add(Rect r) {
    std::lock_guard g(m_);
    if (all_) return;
    dirty_.push_back(r);
    if (dirty_.size() > kMaxDamageRects) {
        Rect box = dirty_.front();
        for (const Rect& x : dirty_) box = unite(box, x);
        dirty_.assign(1, box);
    }
}

void DamageLog::addAll() {
    std::lock_guard g(m_);
    all_ = true;
    dirty_.clear();
}

bool DamageLog::take(Rect area) {
    std::lock_guard g(m_);
    bool changed = all_;
    for (const Rect& r : dirty_) changed = changed || intersects(r, area);
    all_ = false;
    dirty_.clear();
    return changed;
}

}  // namespace tavik::desktop::wayland
