// Reading the viewer's operation filter switches (see operation_filter.h).
#include "client/viewer/operation_filter.h"

#include "common/ini_store.h"

namespace tavik::viewer {

OperationFilter readOperationFilter(const std::string& iniPath) {
    constexpr const char* kSection = "OperationFilter";
    OperationFilter f;
    f.mouseEmulation = tavik::profileGetInt(kSection, "MouseEmulation", 1, iniPath) != 0;
    f.manualThreshold = tavik::profileGetInt(kSection, "ManualThreshfold", 1, iniPath) != 0;
    f.thresholdRange = tavik::profileGetInt(kSection, "ThreshfoldRange", 1, iniPath) != 0;
    f.colorMask = tavik::profileGetInt(kSection, "ColorMask", 0, iniPath) != 0;
    f.conditionMemory = tavik::profileGetInt(kSection, "ConditionMemory", 0, iniPath) != 0;
    return f;
}

}  // namespace tavik::viewer
