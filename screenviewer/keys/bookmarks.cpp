// View bookmarks (see bookmarks.h).
#include "screenviewer/keys/bookmarks.h"

namespace tavik::lumo {

void storeBookmark(uint8_t& used, BookmarkView& view, ConditionSlot& slot, const ViewRect& rect,
                   const BinCondition& condition) {
    view = {rect.baseX, rect.baseY, rect.cellWidth, rect.cellHeight};
    storeCondition(slot, condition);
    used = 1;
}

bool recallBookmark(uint8_t used, const BookmarkView& view, const ConditionSlot& slot, int32_t maxCellPixels,
                    ViewRect& rect, BinCondition& condition) {
    if (used == 0) return false;
    const auto cellOk = [&](int32_t c) { return c >= 1 && c <= maxCellPixels; };
    if (!cellOk(view.cellWidth) || !cellOk(view.cellHeight) || view.baseX < 0 || view.baseY < 0) return false;
    rect = {view.baseX, view.baseY, view.cellWidth, view.cellHeight};
    recallCondition(slot, condition);
    return true;
}

}  // namespace tavik::lumo
