// Pen reports to pen events, area collection and calibration.
#include "controller/pen/pen_tracker.h"

#include <algorithm>
#include <cmath>

#include "common/ini_store.h"
#include "common/settings.h"

namespace tavik::controller {

PenSettings readPenSettings(const std::string& ini) {
    PenSettings s;
    s.use = profileGetInt("Skrivo", "UseSkrivo", 1, ini) == 1;
    s.left = profileGetInt("Skrivo", "Left", 0, ini);
    s.top = profileGetInt("Skrivo", "Top", 0, ini);
    s.right = profileGetInt("Skrivo", "Right", 0, ini);
    s.bottom = profileGetInt("Skrivo", "Bottom", 0, ini);
    s.deltaX = profileGetInt("Skrivo", "DeltaX", 0, ini);
    s.deltaY = profileGetInt("Skrivo", "DeltaY", 0, ini);
    return s;
}

void writePenSettings(const PenSettings& s, const std::string& ini) {
    WriteProfileInt("Skrivo", "UseSkrivo", s.use ? 1 : 0, ini);
    if (s.left < s.right && s.top < s.bottom) {
        WriteProfileInt("Skrivo", "Left", s.left, ini);
        WriteProfileInt("Skrivo", "Top", s.top, ini);
        WriteProfileInt("Skrivo", "Right", s.right, ini);
        WriteProfileInt("Skrivo", "Bottom", s.bottom, ini);
    }
    if (s.deltaX >= 100 && s.deltaY >= 100) {
        WriteProfileInt("Skrivo", "DeltaX", s.deltaX, ini);
        WriteProfileInt("Skrivo", "DeltaY", s.deltaY, ini);
    }
}

PenTracker::PenTracker() = default;

void PenTracker::load(const PenSettings& s) {
    if (s.deltaX < 100 || s.deltaY < 100) return;
    originX_ = s.left;
    originY_ = s.top;
    scaleX_ = s.deltaX / 100.0;
    scaleY_ = s.deltaY / 100.0;
}

PenEvent PenTracker::event(uint8_t code) const {
    auto clampDot = [](int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
    return {code, clampDot(lastX_), clampDot(lastY_), flags_};
}

std::optional<PenEvent> PenTracker::report(int32_t type, int32_t x, int32_t y) {
    if (type < 1 || type > 7) return std::nullopt;
    return report(static_cast<PenReport>(type), x, y);
}

std::optional<PenEvent> PenTracker::report(PenReport type, int32_t x, int32_t y) {
    if (mode_ != 0 && type == PenReport::Move) {
        // Collecting the diagonal: moves with a pen button held widen the
        // area and send nothing; the other reports work as usual.
        if (!(flags_ & (kPenFlagButton1 | kPenFlagButton2))) return std::nullopt;
        if (mode_ == 1) {
            area_ = {x, y, x, y};
            mode_ = 2;
        } else {
            area_.minX = std::min(area_.minX, x);
            area_.minY = std::min(area_.minY, y);
            area_.maxX = std::max(area_.maxX, x);
            area_.maxY = std::max(area_.maxY, y);
        }
        return std::nullopt;
    }
    switch (type) {
        case PenReport::Touch:
            touchPending_ = true;
            return std::nullopt;
        case PenReport::Move: {
            // Any int32 pen position: computed in doubles, then limited to
            // what an int32 holds before it is truncated.
            const double fx = (static_cast<double>(x) - originX_) / scaleX_ + 0.5;
            const double fy = (static_cast<double>(y) - originY_) / scaleY_ + 0.5;
            const int32_t dx = static_cast<int32_t>(std::clamp(fx, -1.0e9, 1.0e9));
            const int32_t dy = static_cast<int32_t>(std::clamp(fy, -1.0e9, 1.0e9));
            if (touchPending_) {
                touchPending_ = false;
                lastX_ = dx;
                lastY_ = dy;
                flags_ |= kPenFlagTouching;
                return event(kPenDown);
            }
            if (dx == lastX_ && dy == lastY_) return std::nullopt;
            lastX_ = dx;
            lastY_ = dy;
            return event(flags_ & kPenFlagTouching ? kPenDrag : kPenHover);
        }
        case PenReport::Lift:
            if (!(flags_ & kPenFlagTouching)) return std::nullopt;
            flags_ &= ~kPenFlagTouching;
            return event(kPenUp);
        case PenReport::Button1Down:
            if (flags_ & kPenFlagButton1) return std::nullopt;
            flags_ |= kPenFlagButton1;
            return event(kPenButton1Down);
        case PenReport::Button1Up:
            if (!(flags_ & kPenFlagButton1)) return std::nullopt;
            flags_ &= ~kPenFlagButton1;
            return event(kPenButton1Up);
        case PenReport::Button2Down:
            if (flags_ & kPenFlagButton2) return std::nullopt;
            flags_ |= kPenFlagButton2;
            return event(kPenButton2Down);
        case PenReport::Button2Up:
            if (!(flags_ & kPenFlagButton2)) return std::nullopt;
            flags_ &= ~kPenFlagButton2;
            return event(kPenButton2Up);
    }
    return std::nullopt;
}

void PenTracker::beginAreaSetting() {
    area_ = {};
    mode_ = 1;
}

bool PenTracker::calibrate(int32_t w, int32_t h, PenSettings& s) {
    if (mode_ != 2 || w <= 0 || h <= 0) return false;
    if (!(area_.minX < area_.maxX && area_.minY < area_.maxY)) return false;
    const int64_t maxX = std::max<int64_t>(area_.maxX, int64_t{area_.minX} + w);
    const int64_t maxY = std::max<int64_t>(area_.maxY, int64_t{area_.minY} + h);
    const int64_t deltaX = (maxX - area_.minX) * 100 / w;
    const int64_t deltaY = (maxY - area_.minY) * 100 / h;
    if (deltaX > INT32_MAX || deltaY > INT32_MAX || maxX > INT32_MAX || maxY > INT32_MAX) return false;
    originX_ = area_.minX;
    originY_ = area_.minY;
    s.left = area_.minX;
    s.top = area_.minY;
    s.right = static_cast<int32_t>(maxX);
    s.bottom = static_cast<int32_t>(maxY);
    s.deltaX = static_cast<int32_t>(deltaX);
    s.deltaY = static_cast<int32_t>(deltaY);
    scaleX_ = s.deltaX / 100.0;
    scaleY_ = s.deltaY / 100.0;
    return true;
}

int PenTracker::release(PenEvent out[3]) {
    int n = 0;
    touchPending_ = false;
    mode_ = 0;
    if (flags_ & kPenFlagTouching) {
        flags_ &= ~kPenFlagTouching;
        out[n++] = event(kPenUp);
    }
    if (flags_ & kPenFlagButton1) {
        flags_ &= ~kPenFlagButton1;
        out[n++] = event(kPenButton1Up);
    }
    if (flags_ & kPenFlagButton2) {
        flags_ &= ~kPenFlagButton2;
        out[n++] = event(kPenButton2Up);
    }
    return n;
}

}  // namespace tavik::controller
