// Function Filter menu toggles (see filter_menu.h).
#include "screenviewer/settings/filter_menu.h"

namespace tavik::lumo {

const MenuItemText kFunctionFilterTitle{kMenuFunctionFilter, "Function Filter", "機能フィルター"};

const std::array<MenuItemText, 7> kFunctionFilterItems = {{
    {kMenuMouseEmulation, "Mouse Emulation Functions", "マウスエミュレーション機能"},
    {kMenuManualThreshold, "Manual Settings of the Threshfold", "閾値の手動設定"},
    {kMenuThresholdRange, "Settings of the Threshfold Range", "閾値範囲の設定"},
    {kMenuColorMask, "Color Mask Functions", "カラーマスク機能"},
    {kMenuConditionMemory, "Store/Restore the Two-level Conditions", "二値化条件の記憶と復元"},
    {kMenuOperationLock, "Lock Pinora's Operations", "Pinoraの操作ロック"},
    {kMenuEightDirections, "Enable 8 Directions", "8方向を有効にする"},
}};

const MenuItemText kViewFrameItem{kMenuViewFrame, "View Frame", "ビューフレーム"};

MenuEffects toggleMenuItem(int id, FunctionFilters& f, bool& viewFrame, bool& locked) {
    MenuEffects e;
    e.handled = true;
    switch (id) {
    case kMenuMouseEmulation:
        f.mouseEmulation = !f.mouseEmulation;
        if (f.mouseEmulation) {
            e.enableEmulationBox = true;
        } else {
            e.stopEmulation = e.publishView = e.disableEmulationBox = true;
        }
        break;
    case kMenuManualThreshold:
        f.manualThreshold = !f.manualThreshold;
        if (!f.manualThreshold) {
            f.thresholdRange = false;
            e.thresholdToCommonest = e.publishView = true;
        }
        break;
    case kMenuThresholdRange:
        f.thresholdRange = !f.thresholdRange;
        if (f.thresholdRange) {
            f.manualThreshold = true;
        } else {
            e.thresholdToCommonest = e.publishView = true;
        }
        break;
    case kMenuColorMask:
        f.colorMask = !f.colorMask;
        if (!f.colorMask) e.clearColourBits = e.publishView = true;
        break;
    case kMenuConditionMemory:
        f.conditionMemory = !f.conditionMemory;
        break;
    case kMenuOperationLock:
        f.operationLock = !f.operationLock;
        if (!f.operationLock && locked) {
            locked = false;
            e.releaseLock = true;
        }
        break;
    case kMenuEightDirections:
        f.eightDirections = !f.eightDirections;
        break;
    case kMenuViewFrame:
        viewFrame = !viewFrame;
        (viewFrame ? e.startFrame : e.stopFrame) = true;
        break;
    default:
        return MenuEffects{};
    }
    return e;
}

std::array<MenuCheck, 8> menuChecks(const FunctionFilters& f, bool viewFrame) {
    return {{{kMenuMouseEmulation, f.mouseEmulation},
             {kMenuManualThreshold, f.manualThreshold},
             {kMenuThresholdRange, f.thresholdRange},
             {kMenuColorMask, f.colorMask},
             {kMenuConditionMemory, f.conditionMemory},
             {kMenuOperationLock, f.operationLock},
             {kMenuEightDirections, f.eightDirections},
             {kMenuViewFrame, viewFrame}}};
}

}  // namespace tavik::lumo
