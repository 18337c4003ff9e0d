// The three view bookmarks of a view record: the view (the ViewScope
// rectangle in overview) and the condition, with a used flag. The record
// keeps the used flags at 1132, the views at 1144 (BookmarkView each) and the
// conditions at 1192 (ConditionSlot each).
//
// Core use: BookmarkStore n -> storeBookmark(...) with the rectangle the keys
// move and the current condition; BookmarkRecall n -> recallBookmark(...),
// then write the rectangle back (scope fields in overview) and PublishView.
#pragma once

#include <cstddef>
#include <cstdint>

#include "screenviewer/keys/mouse_emulation.h"
#include "screenviewer/settings/condition_slots.h"

namespace tavik::lumo {

struct BookmarkView {
    int32_t baseX, baseY, cellWidth, cellHeight;
};
static_assert(sizeof(BookmarkView) == 16);
static_assert(offsetof(BookmarkView, cellHeight) == 12);

void storeBookmark(uint8_t& used, BookmarkView& view, ConditionSlot& slot, const ViewRect& rect,
                   const BinCondition& condition);
// Restores rectangle and condition when the bookmark is used and its values
// are sane (cells 1..maxCellPixels, bases not negative: the records are
// shared with other processes); false and nothing changed otherwise.
bool recallBookmark(uint8_t used, const BookmarkView& view, const ConditionSlot& slot, int32_t maxCellPixels,
                    ViewRect& rect, BinCondition& condition);

}  // namespace tavik::lumo
