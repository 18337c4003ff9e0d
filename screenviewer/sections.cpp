// The viewer's named sections: open or create, initialise when created.
#include "screenviewer/sections.h"

#include <cstring>

namespace lumo {

using tavik::platform::SharedSection;

std::optional<HookSection> HookSection::openOrCreate(tavik::platform::SectionError* error) {
    bool created = false;
    auto s = SharedSection::create(kHookName, kHookSize, &created, {}, error);
    if (!s || s->size() < kHookSize) return std::nullopt;
    if (created) {
        std::memset(s->data(), 0, kHookSize);
        static_cast<HookData*>(s->data())->initialised = 1;
    }
    return HookSection(std::move(*s), created);
}

std::optional<ShareSection> ShareSection::openOrCreate(tavik::platform::SectionError* error) {
    bool created = false;
    auto s = SharedSection::create(kShareName, kShareSize, &created, {}, error);
    if (!s || s->size() < kShareSize) return std::nullopt;
    if (created) initialiseShare(*static_cast<ViewerShare*>(s->data()));
    return ShareSection(std::move(*s), created);
}

void initialiseShare(ViewerShare& share) {
    std::memset(&share, 0, sizeof share);
    share.size = static_cast<int32_t>(kShareSize);
    share.pinColumns = 32;
    share.pinRows = 24;
    share.textCells = 0;
    share.maxCellPixels = 64;
}

}  // namespace lumo
