// The screen viewer's settings file Lumo.ini: the [Browse] choices, the
// function filters of [OperationFilter], the four stored conditions and the
// [Connection] choices, each with its default, read and written at the
// moments the program fixes (separate entry points below).
//
// Core use: one LumoIni on LumoIniPath(). At dialog start readBrowse() and
// readConditions(); after the Function Filter menu was (or failed to be)
// loaded readFilters(menuLoaded). On "Exit" and at the end of the desktop
// session saveOnExit(); on the close box or system Close saveOnClose().
// The connect dialog uses readConnection()/writeConnection().
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "screenviewer/settings/condition_slots.h"

namespace tavik::lumo {

// Refresh choice 0..3 ("None", "0.1sec", "0.2sec", "0.5sec") to timer ticks.
constexpr std::array<int, 4> kRefreshTicks = {0, 1, 2, 5};
// Ticks of a refresh choice; a choice outside 0..3 counts as "None".
int refreshTicks(int choice);

struct BrowseSettings {
    int scanningMode = 2;  // 0 full screen, 1 application window, 2 focus-sync
    bool mouseSync = false;
    int refresh = 0;       // 0..3
    bool viewFrame = true;
    bool operator==(const BrowseSettings&) const = default;
};

struct FunctionFilters {
    bool mouseEmulation = true;   // "MouseEmulation"
    bool manualThreshold = true;  // "ManualThreshfold"
    bool thresholdRange = true;   // "ThreshfoldRange"
    bool colorMask = false;       // "ColorMask"
    bool conditionMemory = false; // "ConditionMemory"
    bool operationLock = false;   // "OperationLock"
    bool eightDirections = false; // "8Directions"
    bool operator==(const FunctionFilters&) const = default;
    // The values used when the Function Filter menu cannot be loaded: the
    // defaults, except that the colour keys are on.
    static FunctionFilters builtIn() {
        FunctionFilters f;
        f.colorMask = true;
        return f;
    }
};

struct ConnectionSettings {
    int port = 0;      // port index 0..63
    int hardware = 0;  // row of the connect dialog's device list
};

// Everything the save entry points write.
struct LumoState {
    BrowseSettings browse;
    FunctionFilters filters;
    bool menuLoaded = false;  // filters are written only when the menu was loaded
    std::array<ConditionSlot, 4> conditions{};
};

class LumoIni {
public:
    explicit LumoIni(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // Each read gives the default for a missing key and for a value out of
    // range (ScanningMode outside 0..2, Refresh outside 0..3); switches read
    // any non-zero value as on. A file that exists but cannot be read gives
    // every default and marks this store read-only for the rest of the run.
    BrowseSettings readBrowse();
    // Sections whose "fData" is 0 (or missing) leave their slot as it is;
    // thresholds are clamped to 0..255, "fAutoThreshfold" read as 0/1, a
    // "bBinMode" with unknown bits becomes the fresh mode.
    void readConditions(std::array<ConditionSlot, 4>& slots);
    // The file's filters when the menu was loaded, else the built-in values.
    FunctionFilters readFilters(bool menuLoaded);
    // "Port" outside 0..63 and "Hardware" outside 0..rowCount-1 read as 0.
    ConnectionSettings readConnection(int rowCount);

    // Save entry points; false when nothing was written (the file could not
    // be read at some point of this run, or a write failed). Never write
    // defaults over a file that could not be read.
    bool saveOnExit(const LumoState& state);       // "Exit" and the end of the desktop session
    bool saveOnEndSession(const LumoState& state) { return saveOnExit(state); }
    bool saveOnClose(const LumoState& state);      // close box and system Close: also "ViewFrame"
    bool writeConnection(const ConnectionSettings& connection);

    // True while the file is missing or readable and was so at every read.
    bool writable();

private:
    bool checkReadable();
    int readInt(const char* section, const char* key, int def);
    bool writeInt(const char* section, const char* key, int value);
    bool saveCommon(const LumoState& state, bool withViewFrame);

    std::string path_;
    bool unreadableSeen_ = false;
};

}  // namespace tavik::lumo
