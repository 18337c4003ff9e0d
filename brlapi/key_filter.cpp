// Key ranges in arrival order; the latest that covers a key decides.
#include "brlapi/key_filter.h"

namespace tavik::brl {

bool rangeCovers(const KeyRange& r, uint64_t code) {
    const uint32_t c = static_cast<uint32_t>(code), flags = static_cast<uint32_t>(code >> 32);
    const uint32_t lo = static_cast<uint32_t>(r.first), hi = static_cast<uint32_t>(r.last);
    const uint32_t least = static_cast<uint32_t>(r.first >> 32), most = static_cast<uint32_t>(r.last >> 32);
    return c >= lo && c <= hi && (least & ~flags) == 0 && (flags & ~most) == 0;
}

bool KeyFilter::add(const KeyRange& r, bool accept) {
    const bool everything = static_cast<uint32_t>(r.first) == 0 && static_cast<uint32_t>(r.last) == 0xFFFFFFFFu &&
                            (r.first >> 32) == 0 && (r.last >> 32) == 0xFFFFFFFFu;
    if (everything) rules_.clear();
    if (rules_.size() >= kMaxRanges) return false;
    rules_.push_back({r, accept});
    return true;
}

bool KeyFilter::accepts(uint64_t code) const {
    for (auto it = rules_.rbegin(); it != rules_.rend(); ++it)
        if (rangeCovers(it->range, code)) return it->accept;
    return true;
}

}  // namespace tavik::brl
