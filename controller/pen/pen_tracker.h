// The pen's rules as a function of its reports: calibration from pen units to
// dots, touch, move, lift and button events for the client in front, and the
// collection of the tactile area's diagonal. No device here: the pen library
// stand-in feeds the reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tavik::controller {

// Report types of the pen library.
enum class PenReport : int32_t { Touch = 1, Lift = 2, Move = 3, Button1Down = 4, Button1Up = 5, Button2Down = 6,
                                 Button2Up = 7 };

// Event codes sent to the client (notify code 11).
enum PenEventCode : uint8_t { kPenHover = 0, kPenDown = 1, kPenDrag = 2, kPenUp = 3, kPenButton1Down = 4,
                              kPenButton1Up = 5, kPenButton2Down = 6, kPenButton2Up = 7 };

// Pen flags byte.
constexpr uint8_t kPenFlagButton1 = 0x01;
constexpr uint8_t kPenFlagButton2 = 0x02;
constexpr uint8_t kPenFlagTouching = 0x80;

struct PenEvent {
    uint8_t code;
    uint8_t x;  // dot column, clamped to 0..255
    uint8_t y;  // dot row, clamped to 0..255
    uint8_t flags;
};

// Settings of section "Skrivo".
struct PenSettings {
    bool use = true;
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t deltaX = 0, deltaY = 0;  // pen units per dot x 100
};
PenSettings readPenSettings(const std::string& iniPath);
// Writes "UseSkrivo"; the area only when left < right and top < bottom; the
// deltas only when both are 100 or more.
void writePenSettings(const PenSettings& settings, const std::string& iniPath);

class PenTracker {
public:
    // Origin (1540, 700) and 45 pen units a dot until stored values are loaded.
    PenTracker();

    // Loads the stored calibration: the origin from Left/Top, the scales from
    // DeltaX/DeltaY only when both are 100 or more.
    void load(const PenSettings& settings);

    // One report from the pen library. An event to send, if any. Outside the
    // area-setting mode only.
    std::optional<PenEvent> report(PenReport type, int32_t x, int32_t y);
    // The same for a raw report type; unknown types are ignored.
    std::optional<PenEvent> report(int32_t type, int32_t x, int32_t y);

    // Area setting: 0 off, 1 waiting for the first point, 2 collecting.
    void beginAreaSetting();  // clears the collected area, mode 1
    int areaMode() const { return mode_; }
    void endAreaSetting() { mode_ = 0; }
    struct Area {
        int32_t minX = 0, minY = 0, maxX = 0, maxY = 0;
    };
    const Area& collected() const { return area_; }

    // Calibrates from the collected area for a W x H dot matrix; false (and
    // nothing changed) when no area was collected, W or H is not positive or
    // the area is empty on an axis. On success `settings` receives the new
    // area and deltas.
    bool calibrate(int32_t graphicWidth, int32_t graphicHeight, PenSettings& settings);

    double originX() const { return originX_; }
    double originY() const { return originY_; }
    double scaleX() const { return scaleX_; }
    double scaleY() const { return scaleY_; }
    uint8_t flags() const { return flags_; }

    // The pen library went away: a touching pen is lifted and pressed buttons
    // are released; the events to send, in order (at most three).
    int release(PenEvent out[3]);

private:
    PenEvent event(uint8_t code) const;

    double originX_ = 1540, originY_ = 700;
    double scaleX_ = 45.0, scaleY_ = 45.0;
    int32_t lastX_ = 0, lastY_ = 0;
    uint8_t flags_ = 0;
    bool touchPending_ = false;
    int mode_ = 0;
    Area area_{};
};

}  // namespace tavik::controller
