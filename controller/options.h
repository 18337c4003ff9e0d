// The controller's options as the options dialog shows and stores them, and
// the rules between the stored window policy and the dialog's list entries.
// No window code: the dialog fills itself from readOptions and hands what the
// user chose to applyOptions.
#pragma once

#include <cstdint>
#include <string>

#include "common/data_maps.h"

namespace tavik::controller {

// List entries of the window policy: "Hide always", "Allow to hide", "Show always".
constexpr int kEntryHideAlways = 0;
constexpr int kEntryAllowHide = 1;
constexpr int kEntryShowAlways = 2;

// Policy 0 -> entry 0, 3 -> entry 2, anything else (1 hidden on request, 2) -> entry 1.
int policyToEntry(int32_t allowHideWindow);
// Entry 0 -> 0, 2 -> 3, anything else -> 2.
int32_t entryToPolicy(int entry);

struct Options {
    bool queryConditionAlways = false;  // "Priority"/"QueryConditionAlways"
    bool screenReaderFirst = false;     // "Priority"/"ScreenReaderFirst"
    int policyEntry = kEntryAllowHide;  // from "Priority"/"AllowHideWindow"
    int monitorSize = 1;                // "Monitor"/"Size": 0 small, 1 middle, 2 large
    bool keepOnTop = false;             // "Monitor"/"KeepOnTop"
};

// Reads the five settings; out-of-range sizes read as 1 (middle).
Options readOptions(const std::string& iniPath);

// What the main window does after the options were stored.
struct OptionsEffect {
    bool hideButtonVisible = true;  // false for "Show always"
    bool hideWindow = false;        // true for "Hide always"
};

// Writes the five settings. With `map`: when its screenReaderFirst was set,
// foregroundSlot := -1 and displayRequest := defaultSlot; then the new
// screenReaderFirst and policy are stored in it.
OptionsEffect applyOptions(const Options& options, const std::string& iniPath, PortDataMap* map);

// The monitor window's pixels per dot for a "Size" value: 5, 10 or 15.
int monitorCellSize(int size);

// "Monitor Window (Com%d)" / "Monitor Window (USB%d)" in the interface language.
std::string monitorTitle(int32_t portIndex);

}  // namespace tavik::controller
