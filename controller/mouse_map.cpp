// Reference counting on the mouse map.
#include "controller/mouse_map.h"

#include "common/data_maps.h"
#include "common/settings.h"
#include "platform/atomic_word.h"

namespace tavik::controller {
namespace {

int32_t& countWord(const platform::SharedSection& s) { return static_cast<MouseMapData*>(s.data())->refCount; }

}  // namespace

std::optional<MouseMapReference> MouseMapReference::acquire() {
    EnsureEveryoneSecurity();
    auto s = platform::SharedSection::create(kMouseMapName, kMouseMapSize);
    if (!s) return std::nullopt;
    platform::addWord(countWord(*s), 1);
    return MouseMapReference(std::move(*s));
}

MouseMapReference& MouseMapReference::operator=(MouseMapReference&& other) noexcept {
    if (this != &other) {
        release();
        section_ = std::move(other.section_);
        other.section_.reset();
    }
    return *this;
}

MouseMapReference::~MouseMapReference() { release(); }

void MouseMapReference::release() noexcept {
    if (section_ && section_->data()) platform::addWord(countWord(*section_), -1);
    section_.reset();
}

int32_t MouseMapReference::count() const {
    if (!section_ || !section_->data()) return 0;
    return platform::loadWord(countWord(*section_));
}

}  // namespace tavik::controller
