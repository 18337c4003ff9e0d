// The Function Filter menu (items 529..535) and the "View Frame" item (527)
// of the main dialog's system menu: texts, check marks and what toggling an
// item changes. Pure state changes; the dialog carries out the side effects.
//
// Core use: on WM_SYSCOMMAND 527 or 529..535 call toggleMenuItem() with the
// live filters and frame setting, then act on the returned MenuEffects in
// the order of the fields (stop emulation, publish, grey/enable box 272,
// threshold to the commonest level, clear colour bits, release the lock,
// stop/start the frame thread) and set the check marks from menuChecks().
#pragma once

#include <array>
#include <string_view>

#include "screenviewer/settings/lumo_settings.h"

namespace tavik::lumo {

constexpr int kMenuViewFrame = 527;
constexpr int kMenuFunctionFilter = 528;  // the popup's menu resource
constexpr int kMenuMouseEmulation = 529;
constexpr int kMenuManualThreshold = 530;
constexpr int kMenuThresholdRange = 531;
constexpr int kMenuColorMask = 532;
constexpr int kMenuConditionMemory = 533;
constexpr int kMenuOperationLock = 534;
constexpr int kMenuEightDirections = 535;

struct MenuItemText {
    int id;
    std::string_view english;
    std::string_view japanese;
};

// The popup's title and items 529..535 in menu order, then item 527.
extern const MenuItemText kFunctionFilterTitle;
extern const std::array<MenuItemText, 7> kFunctionFilterItems;
extern const MenuItemText kViewFrameItem;

struct MenuEffects {
    bool handled = false;                 // the id is one of 527, 529..535
    bool stopEmulation = false;           // StopEmulation (529 off)
    bool publishView = false;
    bool disableEmulationBox = false;     // grey check box 272
    bool enableEmulationBox = false;
    bool thresholdToCommonest = false;    // 530 or 531 switched off
    bool clearColourBits = false;         // 532 off: BIN_RED | BIN_GREEN | BIN_BLUE of the current condition
    bool releaseLock = false;             // 534 off while locked
    bool stopFrame = false;               // 527 off: destroy the frame window
    bool startFrame = false;              // 527 on: start the frame thread
};

// Flips the item's setting (and the items it drags along); `locked` is the
// key lock, cleared here when 534 goes off.
MenuEffects toggleMenuItem(int id, FunctionFilters& filters, bool& viewFrame, bool& locked);

struct MenuCheck {
    int id;
    bool checked;
};
// Check marks of 529..535 and 527.
std::array<MenuCheck, 8> menuChecks(const FunctionFilters& filters, bool viewFrame);

}  // namespace tavik::lumo
