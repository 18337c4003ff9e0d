// View rectangle and scaling arithmetic (see view_geometry.h).
#include "bitmapviewer/view_geometry.h"

#include <algorithm>

namespace bitora {

Rect viewRect(int baseX, int baseY, int divX, int divY, int pinColumns, int pinRows, int w, int h) {
    Rect r;
    r.left = std::clamp(baseX, 0, std::max(0, w));
    r.top = std::clamp(baseY, 0, std::max(0, h));
    const int64_t right = int64_t{r.left} + int64_t{std::max(1, divX)} * std::max(0, pinColumns);
    const int64_t bottom = int64_t{r.top} + int64_t{std::max(1, divY)} * std::max(0, pinRows);
    r.right = static_cast<int>(std::min<int64_t>(right, w));
    r.bottom = static_cast<int>(std::min<int64_t>(bottom, h));
    return r;
}

int imageToClient(int value, int clientSize, int imageSize) {
    if (imageSize <= 0 || clientSize <= 0) return 0;
    return static_cast<int>(int64_t{value} * clientSize / imageSize);
}

int clientToImage(int value, int clientSize, int imageSize) {
    if (imageSize <= 0 || clientSize <= 0) return 0;
    return static_cast<int>(int64_t{value} * imageSize / clientSize);
}

Size fittedClientSize(int w, int h, int availW, int availH) {
    if (w <= 0 || h <= 0) return {};
    double scale = 1.0;
    if (availW > 0) scale = std::min(scale, static_cast<double>(availW) / w);
    if (availH > 0) scale = std::min(scale, static_cast<double>(availH) / h);
    return {std::max(1, static_cast<int>(w * scale)), std::max(1, static_cast<int>(h * scale))};
}

}  // namespace bitora
