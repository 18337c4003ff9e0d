// Which key codes a client wants. A key code is 32 bits of flags (high half)
// and 32 bits of code (low half). A range covers the codes between its two
// bounds' codes whose flags hold at least the first bound's flags and at most
// the last bound's. Ignore and accept packets add ranges in order; the latest
// range that covers a key decides, and a key no range covers is accepted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "brlapi/protocol.h"

namespace tavik::brl {

bool rangeCovers(const KeyRange& r, uint64_t code);

class KeyFilter {
public:
    // A client that piles up more ranges than this is refused (a range that
    // covers every key forgets the ones before it, so real clients stay far below).
    static constexpr std::size_t kMaxRanges = 1024;

    // False (and no change) when the list would exceed kMaxRanges.
    bool ignore(const KeyRange& r) { return add(r, false); }
    bool accept(const KeyRange& r) { return add(r, true); }
    bool accepts(uint64_t code) const;
    void reset() { rules_.clear(); }
    std::size_t ranges() const { return rules_.size(); }

private:
    struct Rule {
        KeyRange range;
        bool accept;
    };
    bool add(const KeyRange& r, bool accept);
    std::vector<Rule> rules_;
};

}  // namespace tavik::brl
