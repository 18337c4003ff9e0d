// The controller's options: reading, storing and their effect on the map.
#include "controller/options.h"

#include <cstdio>

#include "common/ini_store.h"
#include "common/settings.h"
#include "platform/atomic_word.h"

namespace tavik::controller {

int policyToEntry(int32_t allowHideWindow) {
    if (allowHideWindow == 0) return kEntryHideAlways;
    if (allowHideWindow == 3) return kEntryShowAlways;
    return kEntryAllowHide;
}

int32_t entryToPolicy(int entry) {
    if (entry == kEntryHideAlways) return 0;
    if (entry == kEntryShowAlways) return 3;
    return 2;
}

Options readOptions(const std::string& ini) {
    Options o;
    o.queryConditionAlways = profileGetInt("Priority", "QueryConditionAlways", 0, ini) != 0;
    o.screenReaderFirst = profileGetInt("Priority", "ScreenReaderFirst", 0, ini) != 0;
    o.policyEntry = policyToEntry(profileGetInt("Priority", "AllowHideWindow", 2, ini));
    const int32_t size = profileGetInt("Monitor", "Size", 1, ini);
    o.monitorSize = size >= 0 && size <= 2 ? size : 1;
    o.keepOnTop = profileGetInt("Monitor", "KeepOnTop", 0, ini) != 0;
    return o;
}

OptionsEffect applyOptions(const Options& o, const std::string& ini, PortDataMap* map) {
    const int32_t policy = entryToPolicy(o.policyEntry);
    const int size = o.monitorSize >= 0 && o.monitorSize <= 2 ? o.monitorSize : 1;
    WriteProfileInt("Priority", "QueryConditionAlways", o.queryConditionAlways ? 1 : 0, ini);
    WriteProfileInt("Priority", "ScreenReaderFirst", o.screenReaderFirst ? 1 : 0, ini);
    WriteProfileInt("Priority", "AllowHideWindow", policy, ini);
    WriteProfileInt("Monitor", "Size", size, ini);
    WriteProfileInt("Monitor", "KeepOnTop", o.keepOnTop ? 1 : 0, ini);
    if (map) {
        if (platform::loadWord(map->screenReaderFirst) != 0) {
            // Leaving screen-reader-first: the default client is shown again
            // until the foreground is followed anew.
            platform::storeWord(map->foregroundSlot, -1);
            setDisplayRequest(*map, platform::loadWord(map->defaultSlot));
        }
        platform::storeWord(map->screenReaderFirst, o.screenReaderFirst ? 1 : 0);
        platform::storeWord(map->allowHideWindow, policy);
    }
    return {policy != 3, policy == 0};
}

int monitorCellSize(int size) { return size >= 0 && size <= 2 ? size * 5 + 5 : 10; }

std::string monitorTitle(int32_t portIndex) {
    char buf[128];
    if (portIndex >= kFirstUsbPort)
        std::snprintf(buf, sizeof buf, pickText("Monitor Window (USB%d)", "モニターウィンドウ (USB%d)"),
                      portIndex - 63);
    else
        std::snprintf(buf, sizeof buf, pickText("Monitor Window (Com%d)", "モニターウィンドウ (Com%d)"),
                      portIndex + 1);
    return buf;
}

}  // namespace tavik::controller
