// Byte layouts of the viewer's two named sections: "Lumo share data" (the
// view records and the state other processes may read or poke) and "Lumo hook
// data" (focus and caret records filled by the focus hook library). Window
// handles are X11 window ids in 8-byte fields. Both sections are the user's
// own, but other processes of the user (and, with ports shared on purpose,
// other users) write them at any time: read a value into a local, check it,
// then use it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "imaging/lumoutil.h"

namespace lumo {

inline constexpr const char* kShareName = "Lumo share data";
inline constexpr const char* kHookName = "Lumo hook data";
inline constexpr std::size_t kShareSize = 319648;
inline constexpr std::size_t kHookSize = 6192;
inline constexpr int kRecordCount = 256;
inline constexpr int kHookRecordCount = 64;

using WindowId = uint64_t;

// ViewRecord flag bits (set only by other processes sharing the map).
inline constexpr uint32_t kRecordExcluded = 0x1;
inline constexpr uint32_t kRecordHideFrame = 0x10000;
// ViewerShare request flag bits.
inline constexpr uint32_t kRequestRefresh = 0x1;
inline constexpr uint32_t kRequestPlaceFrame = 0x10000;

struct ViewRecord {
    uint32_t flags;
    uint32_t reserved4;
    WindowId keyWindow;      // foreground window the record belongs to (0 = whole screen)
    WindowId captureWindow;  // window whose pixels are captured (0 = whole screen)
    int32_t threadId;        // GUI thread of keyWindow (here: the owning process)
    int32_t imageWidth;
    int32_t imageHeight;
    int32_t baseY;
    int32_t baseX;
    int32_t cellHeight;
    int32_t cellWidth;
    int32_t areaWidth;
    int32_t areaHeight;
    BinCondition condition;
    int32_t overview;
    int32_t viewScope;
    int32_t clientFit;
    int32_t scopeX;
    int32_t scopeY;
    int32_t scopeCellWidth;
    int32_t scopeCellHeight;
    uint8_t bookmarkUsed[3];
    uint8_t reserved1135[9];
    int32_t bookmarkViews[3][4];  // base x, base y, cell width, cell height
    uint8_t bookmarkConditions[3][16];
    uint32_t useStamp;  // useCounter at last use; 0 = free
    uint32_t reserved1244;
};

static_assert(sizeof(BinCondition) == 1044);
static_assert(offsetof(ViewRecord, flags) == 0);
static_assert(offsetof(ViewRecord, keyWindow) == 8);
static_assert(offsetof(ViewRecord, captureWindow) == 16);
static_assert(offsetof(ViewRecord, threadId) == 24);
static_assert(offsetof(ViewRecord, imageWidth) == 28);
static_assert(offsetof(ViewRecord, imageHeight) == 32);
static_assert(offsetof(ViewRecord, baseY) == 36);
static_assert(offsetof(ViewRecord, baseX) == 40);
static_assert(offsetof(ViewRecord, cellHeight) == 44);
static_assert(offsetof(ViewRecord, cellWidth) == 48);
static_assert(offsetof(ViewRecord, areaWidth) == 52);
static_assert(offsetof(ViewRecord, areaHeight) == 56);
static_assert(offsetof(ViewRecord, condition) == 60);
static_assert(offsetof(ViewRecord, condition) + offsetof(BinCondition, adwHistogram) == 80);
static_assert(offsetof(ViewRecord, overview) == 1104);
static_assert(offsetof(ViewRecord, viewScope) == 1108);
static_assert(offsetof(ViewRecord, clientFit) == 1112);
static_assert(offsetof(ViewRecord, scopeX) == 1116);
static_assert(offsetof(ViewRecord, scopeY) == 1120);
static_assert(offsetof(ViewRecord, scopeCellWidth) == 1124);
static_assert(offsetof(ViewRecord, scopeCellHeight) == 1128);
static_assert(offsetof(ViewRecord, bookmarkUsed) == 1132);
static_assert(offsetof(ViewRecord, bookmarkViews) == 1144);
static_assert(offsetof(ViewRecord, bookmarkConditions) == 1192);
static_assert(offsetof(ViewRecord, useStamp) == 1240);
static_assert(sizeof(ViewRecord) == 1248);

struct ViewerShare {
    int32_t size;
    uint32_t reserved4;
    WindowId dialogWindow;
    int32_t pinColumns;
    int32_t pinRows;
    int32_t textCells;
    int32_t maxCellPixels;
    WindowId lastForeground;
    WindowId targetWindow;  // mouse positions are relative to it (0 = screen)
    int32_t currentRecord;
    int32_t desktopRecord;
    ViewRecord records[kRecordCount];
    uint32_t useCounter;
    uint32_t reserved319548;
    WindowId frameWindow;
    int32_t frameShown;
    int32_t frameRect[4];  // x, y, width, height
    uint32_t requestFlags;
    uint8_t reserved319584[64];
};

static_assert(offsetof(ViewerShare, size) == 0);
static_assert(offsetof(ViewerShare, dialogWindow) == 8);
static_assert(offsetof(ViewerShare, pinColumns) == 16);
static_assert(offsetof(ViewerShare, pinRows) == 20);
static_assert(offsetof(ViewerShare, textCells) == 24);
static_assert(offsetof(ViewerShare, maxCellPixels) == 28);
static_assert(offsetof(ViewerShare, lastForeground) == 32);
static_assert(offsetof(ViewerShare, targetWindow) == 40);
static_assert(offsetof(ViewerShare, currentRecord) == 48);
static_assert(offsetof(ViewerShare, desktopRecord) == 52);
static_assert(offsetof(ViewerShare, records) == 56);
static_assert(offsetof(ViewerShare, useCounter) == 319544);
static_assert(offsetof(ViewerShare, frameWindow) == 319552);
static_assert(offsetof(ViewerShare, frameShown) == 319560);
static_assert(offsetof(ViewerShare, frameRect) == 319564);
static_assert(offsetof(ViewerShare, requestFlags) == 319580);
static_assert(sizeof(ViewerShare) == kShareSize);

struct HookThreadRecord {
    int32_t inUse;
    int32_t threadId;
    int32_t changed;
    int32_t hookOwned;  // owned by the hook library: the viewer leaves it alone
    WindowId window;    // focus or caret window
    int32_t kind;       // 1 = caret position given
    int32_t caretX;     // client pixels of `window`
    int32_t caretY;
    int32_t screenGiven;
    int32_t screenX;
    int32_t screenY;
    uint8_t reserved48[40];
    uint64_t cursorIcon;
};

static_assert(offsetof(HookThreadRecord, inUse) == 0);
static_assert(offsetof(HookThreadRecord, threadId) == 4);
static_assert(offsetof(HookThreadRecord, changed) == 8);
static_assert(offsetof(HookThreadRecord, hookOwned) == 12);
static_assert(offsetof(HookThreadRecord, window) == 16);
static_assert(offsetof(HookThreadRecord, kind) == 24);
static_assert(offsetof(HookThreadRecord, caretX) == 28);
static_assert(offsetof(HookThreadRecord, caretY) == 32);
static_assert(offsetof(HookThreadRecord, screenGiven) == 36);
static_assert(offsetof(HookThreadRecord, screenX) == 40);
static_assert(offsetof(HookThreadRecord, screenY) == 44);
static_assert(offsetof(HookThreadRecord, cursorIcon) == 88);
static_assert(sizeof(HookThreadRecord) == 96);

struct HookData {
    WindowId dialogWindow;  // the running viewer's main dialog (0 while none runs)
    int32_t viewerProcess;  // the running viewer's process: target of the hand-over message
    uint8_t reserved12[20];
    int32_t initialised;  // 1 from creation
    uint32_t reserved36;
    HookThreadRecord threads[kHookRecordCount];
    uint8_t reserved6184[8];
};

static_assert(offsetof(HookData, dialogWindow) == 0);
static_assert(offsetof(HookData, viewerProcess) == 8);
static_assert(offsetof(HookData, initialised) == 32);
static_assert(offsetof(HookData, threads) == 40);
static_assert(sizeof(HookData) == kHookSize);

// The share's window words that the viewer's watch and refresh threads (and any
// other process) read and write: one whole atomic access each, never a torn or
// re-read value.
inline WindowId loadWindowWord(const WindowId& word) {
    return std::atomic_ref<const WindowId>(word).load(std::memory_order_relaxed);
}
inline void storeWindowWord(WindowId& word, WindowId value) {
    std::atomic_ref<WindowId>(word).store(value, std::memory_order_relaxed);
}

}  // namespace lumo
