// Pure arithmetic of the bitmap viewer's window: the view rectangle on the
// image, image <-> client scaling, the window size for an image, the reported
// view position. No state, no I/O.
#pragma once

#include <cstdint>

namespace bitora {

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;  // right, bottom exclusive
    bool operator==(const Rect&) const = default;
};

// The part of the image a view shows: from (baseX, baseY), divX x pinColumns
// by divY x pinRows pixels, clamped to the image.
Rect viewRect(int baseX, int baseY, int divX, int divY, int pinColumns, int pinRows, int imageWidth,
              int imageHeight);

// An image point or length scaled to the client area (value x client / image),
// and back. A zero size gives 0.
int imageToClient(int value, int clientSize, int imageSize);
int clientToImage(int value, int clientSize, int imageSize);

// The window's outer size for an image: the image scaled down (never up) so that
// it fits inside `available` (the screen less the frame and the menu).
struct Size {
    int width = 0, height = 0;
};
Size fittedClientSize(int imageWidth, int imageHeight, int availableWidth, int availableHeight);

}  // namespace bitora
