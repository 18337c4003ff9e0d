// Small helpers for reading action lists in the key tests.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "screenviewer/keys/key_actions.h"
#include "screenviewer/keys/key_context.h"

namespace tavik::lumo::test {

inline std::vector<KeyAct> kinds(const ActionList& list) {
    std::vector<KeyAct> out;
    for (const KeyAction& a : list) out.push_back(a.act);
    return out;
}

inline const KeyAction* find(const ActionList& list, KeyAct act) {
    for (const KeyAction& a : list)
        if (a.act == act) return &a;
    return nullptr;
}

inline std::vector<int> commands(const ActionList& list) {
    std::vector<int> out;
    for (const KeyAction& a : list)
        if (a.act == KeyAct::DialogCommand) out.push_back(a.value);
    return out;
}

// A 48 x 32 display on the image page, one pixel per pin, emulation off.
inline KeyContext imageContext() {
    KeyContext c;
    c.modelCode = kModelDisplay48;
    c.pinColumns = 48;
    c.pinRows = 32;
    c.stepX = 24;
    c.stepY = 16;
    return c;
}

}  // namespace tavik::lumo::test
