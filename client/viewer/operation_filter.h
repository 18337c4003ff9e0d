// The "OperationFilter" switches of Lumo.ini that turn groups of the viewer's
// key operations on or off.
#pragma once

#include <string>

namespace tavik::viewer {

struct OperationFilter {
    bool mouseEmulation = true;   // "MouseEmulation": turning the pointer on
    bool manualThreshold = true;  // "ManualThreshfold": threshold steps and levels
    bool thresholdRange = true;   // "ThreshfoldRange": bound steps
    bool colorMask = false;       // "ColorMask": colour filters
    bool conditionMemory = false; // "ConditionMemory": saving a condition memory
};

// Reads section "OperationFilter" of the INI file at `iniPath`; a missing
// file or key gives the default above. Never fails.
OperationFilter readOperationFilter(const std::string& iniPath);

}  // namespace tavik::viewer
