// The focus hook's records as the end-to-end tests read them from its shared section.
#pragma once

#include <optional>
#include <string>

#include "platform/shared_section.h"
#include "screenviewer/share_layout.h"

namespace tavik::test {

// The hook's caret record of process `pid`, when the section holds one.
inline std::optional<lumo::HookThreadRecord> caretRecord(int pid) {
    auto hook = platform::SharedSection::open(lumo::kHookName, platform::SharedSection::Access::ReadOnly,
                                              lumo::kHookSize);
    if (!hook) return std::nullopt;
    for (const auto& t : static_cast<const lumo::HookData*>(hook->data())->threads)
        if (t.inUse && t.threadId == pid && t.kind == 1) return t;
    return std::nullopt;
}

inline std::string describeCaret(const lumo::HookThreadRecord& t) {
    return "caret record: client " + std::to_string(t.caretX) + "," + std::to_string(t.caretY) + " screen " +
           std::to_string(t.screenX) + "," + std::to_string(t.screenY);
}

}  // namespace tavik::test
