// Reading and writing Lumo.ini (see lumo_settings.h).
#include "screenviewer/settings/lumo_settings.h"

#include <algorithm>
#include <fstream>
#include <sys/stat.h>

#include "common/ini_store.h"
#include "common/settings.h"

namespace tavik::lumo {

namespace {

constexpr const char* kBrowse = "Browse";
constexpr const char* kFilter = "OperationFilter";
constexpr const char* kConnection = "Connection";
constexpr std::array<const char*, 4> kConditionSections = {"Condition1", "Condition2", "Condition3",
                                                           "Condition4"};

int inRangeOr(int value, int lo, int hi, int def) { return value < lo || value > hi ? def : value; }

}  // namespace

int refreshTicks(int choice) {
    return choice >= 0 && choice < static_cast<int>(kRefreshTicks.size()) ? kRefreshTicks[static_cast<size_t>(choice)]
                                                                           : 0;
}

bool LumoIni::checkReadable() {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return !unreadableSeen_;  // missing: defaults, writable
    std::ifstream in(path_, std::ios::binary);
    if (!S_ISREG(st.st_mode) || !in.is_open()) unreadableSeen_ = true;
    return !unreadableSeen_;
}

bool LumoIni::writable() { return checkReadable(); }

int LumoIni::readInt(const char* section, const char* key, int def) {
    if (unreadableSeen_) return def;
    return profileGetInt(section, key, def, path_);
}

bool LumoIni::writeInt(const char* section, const char* key, int value) {
    return WriteProfileInt(section, key, value, path_);
}

BrowseSettings LumoIni::readBrowse() {
    BrowseSettings b;
    if (!checkReadable()) return b;
    b.scanningMode = inRangeOr(readInt(kBrowse, "ScanningMode", 2), 0, 2, 2);
    b.mouseSync = readInt(kBrowse, "MouseSync", 0) != 0;
    b.refresh = inRangeOr(readInt(kBrowse, "Refresh", 0), 0, 3, 0);
    b.viewFrame = readInt(kBrowse, "ViewFrame", 1) != 0;
    return b;
}

void LumoIni::readConditions(std::array<ConditionSlot, 4>& slots) {
    if (!checkReadable()) return;
    for (size_t i = 0; i < slots.size(); ++i) {
        const char* s = kConditionSections[i];
        if (readInt(s, "fData", 0) == 0) continue;
        ConditionSlot slot;
        slot.fData = 1;
        slot.fAutoThreshfold = readInt(s, "fAutoThreshfold", 0) != 0 ? 1 : 0;
        const auto level = [&](const char* key) { return static_cast<uint8_t>(std::clamp(readInt(s, key, 0), 0, 255)); };
        slot.bThreshfold = level("bThreshfold");
        slot.bThreshfoldMin = level("bThreshfoldMin");
        slot.bThreshfoldMax = level("bThreshfoldMax");
        if (slot.bThreshfoldMin > slot.bThreshfoldMax) std::swap(slot.bThreshfoldMin, slot.bThreshfoldMax);
        const int mode = readInt(s, "bBinMode", 0);
        slot.mode = mode >= 0 && (static_cast<uint32_t>(mode) & ~kStorableModeBits) == 0 ? static_cast<uint32_t>(mode)
                                                                                         : kFreshMode;
        slots[i] = slot;
    }
}

FunctionFilters LumoIni::readFilters(bool menuLoaded) {
    if (!menuLoaded) return FunctionFilters::builtIn();
    FunctionFilters f;
    if (!checkReadable()) return f;
    f.mouseEmulation = readInt(kFilter, "MouseEmulation", 1) != 0;
    f.manualThreshold = readInt(kFilter, "ManualThreshfold", 1) != 0;
    f.thresholdRange = readInt(kFilter, "ThreshfoldRange", 1) != 0;
    f.colorMask = readInt(kFilter, "ColorMask", 0) != 0;
    f.conditionMemory = readInt(kFilter, "ConditionMemory", 0) != 0;
    f.operationLock = readInt(kFilter, "OperationLock", 0) != 0;
    f.eightDirections = readInt(kFilter, "8Directions", 0) != 0;
    return f;
}

ConnectionSettings LumoIni::readConnection(int rowCount) {
    ConnectionSettings c;
    if (!checkReadable()) return c;
    c.port = inRangeOr(readInt(kConnection, "Port", 0), 0, 63, 0);
    c.hardware = inRangeOr(readInt(kConnection, "Hardware", 0), 0, std::max(0, rowCount - 1), 0);
    return c;
}

bool LumoIni::writeConnection(const ConnectionSettings& c) {
    if (!checkReadable()) return false;
    bool ok = writeInt(kConnection, "Port", c.port);
    ok = writeInt(kConnection, "Hardware", c.hardware) && ok;
    return ok;
}

bool LumoIni::saveCommon(const LumoState& st, bool withViewFrame) {
    if (!checkReadable()) return false;
    bool ok = true;
    if (st.menuLoaded) {
        const FunctionFilters& f = st.filters;
        ok = writeInt(kFilter, "MouseEmulation", f.mouseEmulation) && ok;
        ok = writeInt(kFilter, "ManualThreshfold", f.manualThreshold) && ok;
        ok = writeInt(kFilter, "ThreshfoldRange", f.thresholdRange) && ok;
        ok = writeInt(kFilter, "ColorMask", f.colorMask) && ok;
        ok = writeInt(kFilter, "ConditionMemory", f.conditionMemory) && ok;
        ok = writeInt(kFilter, "OperationLock", f.operationLock) && ok;
        ok = writeInt(kFilter, "8Directions", f.eightDirections) && ok;
    }
    for (size_t i = 0; i < st.conditions.size(); ++i) {
        const char* s = kConditionSections[i];
        const ConditionSlot& slot = st.conditions[i];
        ok = writeInt(s, "fData", slot.fData) && ok;
        if (slot.fData == 0) continue;
        ok = writeInt(s, "fAutoThreshfold", slot.fAutoThreshfold) && ok;
        ok = writeInt(s, "bThreshfold", slot.bThreshfold) && ok;
        ok = writeInt(s, "bThreshfoldMin", slot.bThreshfoldMin) && ok;
        ok = writeInt(s, "bThreshfoldMax", slot.bThreshfoldMax) && ok;
        ok = writeInt(s, "bBinMode", static_cast<int>(slot.mode)) && ok;
    }
    ok = writeInt(kBrowse, "ScanningMode", st.browse.scanningMode) && ok;
    ok = writeInt(kBrowse, "MouseSync", st.browse.mouseSync) && ok;
    ok = writeInt(kBrowse, "Refresh", st.browse.refresh) && ok;
    if (withViewFrame) ok = writeInt(kBrowse, "ViewFrame", st.browse.viewFrame) && ok;
    return ok;
}

bool LumoIni::saveOnExit(const LumoState& st) { return saveCommon(st, false); }

bool LumoIni::saveOnClose(const LumoState& st) { return saveCommon(st, true); }

}  // namespace tavik::lumo
