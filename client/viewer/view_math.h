// The viewer's view arithmetic: a window of W x H dots onto an image at a
// division (image pixels per dot), moved, positioned and zoomed by the rules
// the keys and the gd calls share. Pure functions on plain values.
#pragma once

#include <cstdint>

namespace tavik::viewer {

// Image and display sizes the arithmetic works with (all positive).
struct Geometry {
    int32_t imageWidth = 1;
    int32_t imageHeight = 1;
    int32_t W = 1;  // display dots across
    int32_t H = 1;  // display dots down
};

// One view: its top-left image pixel and its division in x and y.
struct View {
    int32_t left = 0;
    int32_t top = 0;
    int32_t divX = 1;
    int32_t divY = 1;
    bool operator==(const View&) const = default;
};

enum class Corner { TopLeft, TopRight, BottomLeft, BottomRight };

// ceil(a / b) for positive b.
int32_t ceilDiv(int32_t a, int32_t b);
// The division that shows the whole image: max(ceil(iw / W), ceil(ih / H)), at least 1.
int32_t fitDivision(const Geometry& g);

// Moves by d pixels; the view stops with its far border on the image's last pixel (not below 0).
void moveHorizontal(View& v, const Geometry& g, int32_t d);
void moveVertical(View& v, const Geometry& g, int32_t d);
// Moves by dx, dy dots of the view.
void moveDots(View& v, const Geometry& g, int32_t dx, int32_t dy);
// Scrolls the least distance that brings pixel (x, y) (clamped to the image) into view.
void bringIntoView(View& v, const Geometry& g, int32_t x, int32_t y);
// True when pixel (x, y) lies inside the view.
bool inView(const View& v, const Geometry& g, int32_t x, int32_t y);

// True when division d is refused (the view would be far larger than the image);
// `detail` uses the stricter rule of the detail view shown in the overview.
bool zoomRefused(const Geometry& g, int32_t d, bool detail);
// Zooms about the view's centre; false (nothing changed) when refused.
bool zoomCentre(View& v, const Geometry& g, int32_t d, bool detail);
// Zooms keeping pixel (px, py) on the same dot; false when refused.
bool zoomAbout(View& v, const Geometry& g, int32_t d, int32_t px, int32_t py, bool detail);
// Zooms keeping one corner of the view in place; false when refused.
bool zoomCorner(View& v, const Geometry& g, int32_t d, Corner corner, bool detail);

// Jumps to an edge by a keypad digit (1..9, calculator layout: 7 8 9 on top); 5 centres.
void jumpView(View& v, const Geometry& g, int32_t digit);
// Centres the view on pixel (x, y), keeping it inside the image where it can.
void centreOn(View& v, const Geometry& g, int32_t x, int32_t y);

}  // namespace tavik::viewer
