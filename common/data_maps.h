// Byte layouts and names of the shared sections through which clients, the
// controller and the driver plug-in meet, and the operations on them. Every
// process maps the same bytes, so every offset is checked at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/shared_section.h"

namespace tavik {

constexpr int kSlotCount = 16;
constexpr int kTextBytes = 128;
constexpr int kGraphicBytes = 10000;
constexpr int kSerialPortCount = 64;     // port index 0..63: Com1..Com64
constexpr int kConnectionCount = 16;     // port index 64..79: USB entries
constexpr int kFirstUsbPort = 64;
constexpr int kLastPortIndex = kFirstUsbPort + kConnectionCount - 1;

// displayFlags bits
constexpr int32_t kDisplayModeOn = 1;
constexpr int32_t kDefaultClient = 2;
constexpr int32_t kDisplaySuspended = 8;
// A client in display mode may claim a part of the display for itself, whichever
// window is in front: its text goes to the text line, or its graphic to the pins,
// and the keys of that part come to it (display_parts.h). A claimant also gets
// the switch chord, also while it claims nothing.
constexpr int32_t kClaimsTextLine = 16;
constexpr int32_t kClaimsPinField = 32;
constexpr int32_t kTakesSwitchChord = 64;
constexpr int32_t kClaimFlags = kClaimsTextLine | kClaimsPinField | kTakesSwitchChord;

// displayRequest values besides slot numbers
constexpr int32_t kNoRequest = -1;
constexpr int32_t kRequestSending = -3;

// status values
enum ConnectionStatus : int32_t {
    kStatusNoConnection = 0,
    kStatusConnected = 1,
    kStatusDriverLoadFailed = 2,
    kStatusDriverExportMissing = 3,
    kStatusPortOpenFailed = 4,
    kStatusThreadFailed = 5,
    kStatusClosing = 8,
};

struct ClientSlot {
    int32_t processId;
    int32_t notifyThreadId;
    int32_t displayFlags;
    int32_t planeLevel;
    int32_t textChanged;
    int32_t graphicChanged;
    int32_t graphicFormat;
    char text[kTextBytes];
    char text2[kTextBytes];
    uint8_t reserved[1024];
    uint8_t graphic[kGraphicBytes];
};

struct PortDataMap {
    int32_t portIndex;
    int32_t baudRate;
    uint8_t controllerVersion[3];
    uint8_t driverVersion[3];
    uint8_t reserved14[2];
    int32_t controllerThreadId;
    int32_t status;
    int32_t textCells;
    int32_t graphicWidth;
    int32_t graphicHeight;
    int32_t reserved36;
    int32_t deviceIdentified;
    char deviceName[24];
    uint8_t deviceInfo[8];
    char driverFile[32];
    int32_t entryCount;
    int32_t displayClientCount;
    int32_t foregroundSlot;
    int32_t defaultSlot;
    int32_t displayRequest;
    int32_t closingSlot;
    ClientSlot slots[kSlotCount];
    int32_t directOperationSlot;
    int32_t slotBusy[kSlotCount];
    int32_t screenReaderFirst;
    int32_t allowHideWindow;
    int32_t monitorPort;
};

static_assert(offsetof(ClientSlot, processId) == 0);
static_assert(offsetof(ClientSlot, notifyThreadId) == 4);
static_assert(offsetof(ClientSlot, displayFlags) == 8);
static_assert(offsetof(ClientSlot, planeLevel) == 12);
static_assert(offsetof(ClientSlot, textChanged) == 16);
static_assert(offsetof(ClientSlot, graphicChanged) == 20);
static_assert(offsetof(ClientSlot, graphicFormat) == 24);
static_assert(offsetof(ClientSlot, text) == 28);
static_assert(offsetof(ClientSlot, text2) == 156);
static_assert(offsetof(ClientSlot, reserved) == 284);
static_assert(offsetof(ClientSlot, graphic) == 1308);
static_assert(sizeof(ClientSlot) == 11308);

static_assert(offsetof(PortDataMap, portIndex) == 0);
static_assert(offsetof(PortDataMap, baudRate) == 4);
static_assert(offsetof(PortDataMap, controllerVersion) == 8);
static_assert(offsetof(PortDataMap, driverVersion) == 11);
static_assert(offsetof(PortDataMap, reserved14) == 14);
static_assert(offsetof(PortDataMap, controllerThreadId) == 16);
static_assert(offsetof(PortDataMap, status) == 20);
static_assert(offsetof(PortDataMap, textCells) == 24);
static_assert(offsetof(PortDataMap, graphicWidth) == 28);
static_assert(offsetof(PortDataMap, graphicHeight) == 32);
static_assert(offsetof(PortDataMap, reserved36) == 36);
static_assert(offsetof(PortDataMap, deviceIdentified) == 40);
static_assert(offsetof(PortDataMap, deviceName) == 44);
static_assert(offsetof(PortDataMap, deviceInfo) == 68);
static_assert(offsetof(PortDataMap, driverFile) == 76);
static_assert(offsetof(PortDataMap, entryCount) == 108);
static_assert(offsetof(PortDataMap, displayClientCount) == 112);
static_assert(offsetof(PortDataMap, foregroundSlot) == 116);
static_assert(offsetof(PortDataMap, defaultSlot) == 120);
static_assert(offsetof(PortDataMap, displayRequest) == 124);
static_assert(offsetof(PortDataMap, closingSlot) == 128);
static_assert(offsetof(PortDataMap, slots) == 132);
static_assert(offsetof(PortDataMap, directOperationSlot) == 181060);
static_assert(offsetof(PortDataMap, slotBusy) == 181064);
static_assert(offsetof(PortDataMap, screenReaderFirst) == 181128);
static_assert(offsetof(PortDataMap, allowHideWindow) == 181132);
static_assert(offsetof(PortDataMap, monitorPort) == 181136);
static_assert(sizeof(PortDataMap) == 181140);

struct ConnectionInfoEntry {
    int32_t inUse;
    char serialNumber[64];
    char description[64];
};
struct ConnectionInfoMap {
    ConnectionInfoEntry entries[kConnectionCount];
};
static_assert(offsetof(ConnectionInfoEntry, inUse) == 0);
static_assert(offsetof(ConnectionInfoEntry, serialNumber) == 4);
static_assert(offsetof(ConnectionInfoEntry, description) == 68);
static_assert(sizeof(ConnectionInfoEntry) == 132);
static_assert(sizeof(ConnectionInfoMap) == 2112);

// The machine-wide mouse map: the pointer position last observed and the buttons a click or
// drag left pressed. Controllers count themselves in `refCount` (atomically); the client
// library never changes it.
struct MouseMapData {
    int32_t refCount;  // controllers holding the map
    int32_t reserved4;
    uint8_t reserved8[8];
    int32_t moveCounter;
    uint8_t reserved20[16];
    int32_t lastCursorX;
    int32_t lastCursorY;
    int32_t heldButtons;  // bit 0 left, bit 1 right
};
static_assert(offsetof(MouseMapData, refCount) == 0);
static_assert(offsetof(MouseMapData, reserved8) == 8);
static_assert(offsetof(MouseMapData, moveCounter) == 16);
static_assert(offsetof(MouseMapData, lastCursorX) == 36);
static_assert(offsetof(MouseMapData, lastCursorY) == 40);
static_assert(offsetof(MouseMapData, heldButtons) == 44);
static_assert(sizeof(MouseMapData) == 48);

constexpr std::size_t kPortMapSize = sizeof(PortDataMap);
constexpr std::size_t kConnectionInfoSize = sizeof(ConnectionInfoMap);
constexpr std::size_t kMouseMapSize = sizeof(MouseMapData);
constexpr const char* kConnectionInfoName = "Data Map (ConnectionInfo) for GD Driver Ver.2.00";
constexpr const char* kMouseMapName = "TAVIK MOUSE hook data";

// True for 0..15: the only slot numbers that may index `slots`/`slotBusy`.
inline bool isSlot(int32_t value) { return value >= 0 && value < kSlotCount; }
inline bool isPortIndex(int32_t value) { return value >= 0 && value <= kLastPortIndex; }

// "Data Map (Com<index+1>) for GD Driver Ver.2.00" for 0..63, else
// "Data Map (Connection <index>) for GD Driver Ver.2.00"; "" for a negative index.
std::string portMapName(int32_t portIndex);
// "Com<index+1>" or "USB<index-63>".
std::string portDisplayName(int32_t portIndex);

// A mapped port data map. Closing (destruction) unmaps it; the section goes
// when its last holder closes it.
class PortMap {
public:
    // openPortMap: opens the live map of the port, or creates it, clears it and
    // writes its port index. `created` tells whether this call created it;
    // `error` why it failed (e.g. the name held by another user).
    static std::optional<PortMap> open(int32_t portIndex, bool* created = nullptr,
                                       platform::SectionError* error = nullptr);
    // Opens only an existing map (read-only when `writable` is false).
    static std::optional<PortMap> openExisting(int32_t portIndex, bool writable);

    PortDataMap& map() const { return *static_cast<PortDataMap*>(section_.data()); }
    PortDataMap* operator->() const { return &map(); }
    int32_t portIndex() const { return portIndex_; }

    // The controller's claim on the port: one controller per port. Taken by
    // the controller at start-up (waiting up to boundMs for an ending one to
    // go) and held until it closes the map or its process ends.
    bool claimController(int boundMs) { return section_.claimWithin(boundMs); }
    // A controller that replaced its image by exec keeps its open of the map,
    // and with it the claim, so no client ever sees the port unclaimed:
    // keepClaimAcrossExec(true) just before exec gives the descriptor's number
    // to pass on (-1: not possible); (false) undoes it after a failed exec.
    // adopt takes the passed descriptor over in the new image; see
    // SharedSection::adopt for the checks (nullopt: claim the port afresh).
    int keepClaimAcrossExec(bool keep) { return section_.keepAcrossExec(keep); }
    static std::optional<PortMap> adopt(int fd, int32_t portIndex);
    // True when a live controller process holds the claim (through another
    // open of the map than this one). Only a process that can write the map
    // can hold it: a reader's lock never makes a port look served.
    bool controllerClaimed() const { return section_.claimedElsewhere(); }
    // True once the map shrank under this mapping and reads as private zeros.
    bool lost() const { return section_.lost(); }

private:
    PortMap(platform::SharedSection section, int32_t portIndex)
        : section_(std::move(section)), portIndex_(portIndex) {}
    platform::SharedSection section_;
    int32_t portIndex_;
};

// Resets the fields the creator owns (see the map's life cycle).
void clearPortMap(PortDataMap& map);

// Writes `displayRequest` and wakes a communication thread waiting for it,
// so a display write reaches the wire without a polling delay.
void setDisplayRequest(PortDataMap& map, int32_t value);

// Copies the whole map of `portIndex` into `dest`: from `own` when it is the
// map of that index (or when portIndex is -1), else from the live map, opened
// read-only for the copy. False when there is nothing to copy.
bool readPortMap(int32_t portIndex, const PortMap* own, PortDataMap& dest);

// Waits up to `tries` 1 ms steps for the slot's busy flag to read 0.
bool waitSlotFree(PortDataMap& map, int32_t slot, int tries);
void setSlotBusy(PortDataMap& map, int32_t slot, int32_t value);
// Takes the slot's busy flag with compare-and-exchange, trying up to `tries`
// times 1 ms apart. Release with setSlotBusy(map, slot, 0).
bool takeSlotBusy(PortDataMap& map, int32_t slot, int tries);

// The connection info map, opened or created zero-filled.
class ConnectionInfo {
public:
    static std::optional<ConnectionInfo> open();
    ConnectionInfoMap& map() const { return *static_cast<ConnectionInfoMap*>(section_.data()); }

private:
    explicit ConnectionInfo(platform::SharedSection s) : section_(std::move(s)) {}
    platform::SharedSection section_;
};

// Copies a NUL-terminated string from a fixed field, never reading past it.
std::string fieldString(const char* field, std::size_t width);
template <std::size_t N>
std::string fieldString(const char (&field)[N]) {
    return fieldString(field, N);
}
// Writes `value` into a fixed field, truncated, always NUL-terminated.
void setFieldString(char* field, std::size_t width, const std::string& value);
template <std::size_t N>
void setFieldString(char (&field)[N], const std::string& value) {
    setFieldString(field, N, value);
}

}  // namespace tavik
