// The screen viewer's device input: the key, note-taker, broadcast, data and
// pen callbacks decode their bytes with the key tables (screenviewer/keys/)
// against a KeyContext taken from the viewer, and carry the actions out on the
// core, the emulated mouse, the tones and the main dialog. It also owns the
// state the keys change (filters, lock, pages, shift chords, steps, mouse
// emulation, stored conditions) and draws what depends on it in the refresh
// pass: the information pages, the mouse marker and the text line.
//
// Threads: the callbacks run on the client library's notification thread,
// the dialog's operations on the dialog thread, the drawing hooks on the
// refresh thread. One mutex guards the state; it is never held while a
// command goes to the dialog thread or while the screen image is saved.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "screenviewer/keys/bookmarks.h"
#include "screenviewer/keys/key_actions.h"
#include "screenviewer/keys/key_context.h"
#include "screenviewer/keys/mouse_emulation.h"
#include "screenviewer/keys/shift_chords.h"
#include "screenviewer/keys/strips_pen.h"
#include "screenviewer/settings/filter_menu.h"
#include "screenviewer/settings/lumo_settings.h"
#include "screenviewer/viewer.h"

namespace lumo {

namespace keys = tavik::lumo;

// What the input does outside the core. Positions are relative to the
// window given (0: the screen). Missing functions do nothing.
struct InputPorts {
    std::function<void(WindowId, int32_t x, int32_t y)> mouseMove;
    std::function<void(WindowId, int32_t x, int32_t y, int buttons)> mouseClick;
    std::function<void(WindowId, int32_t x, int32_t y, int buttons)> mouseDrag;  // press and hold; 0 releases all
    // The real pointer relative to the window's outer corner (gdGetMouseState
    // without the client flag); nullopt when it cannot be read.
    std::function<std::optional<keys::PointerReading>(WindowId)> mouseState;
    // A direct command sent only when the direct-operation right can be taken.
    std::function<void(int command, int parameter, std::span<const uint8_t> data)> directCommand;
    // A WM_COMMAND id run on the dialog thread; returns when it has run (or
    // after a bounded wait).
    std::function<void(int id)> dialogCommand;
    // Saves the screen image (whole window or the current view) and opens it
    // in the bitmap viewer.
    std::function<void(bool whole)> saveScreenImage;
    // Check box 272 ("Mouse emulation") follows the emulation; text 273 the mouse.
    std::function<void(bool emulating)> emulationBox;
    std::function<void(const std::string& text)> mouseText;
};
// Mouse and direct commands through the client library.
InputPorts clientLibraryPorts();

class KeyHandler {
public:
    KeyHandler(Viewer& viewer, InputPorts ports, bool japanese);
    // Takes the drawing hooks back from the viewer (stop its threads first).
    ~KeyHandler();
    KeyHandler(const KeyHandler&) = delete;
    KeyHandler& operator=(const KeyHandler&) = delete;

    // Registers the device callbacks with the client library at connection
    // (gdStartDisplayMode flags 2: the note-taker key handler for model 2,
    // else key, broadcast and data callbacks and the pen callback). Events
    // reach the handler made active; before that they are dropped.
    static void registerCallbacks(int modelCode);
    // Makes this handler the one the callbacks reach (one per process), or
    // no longer (an event already running finishes).
    void activate();
    void deactivate();

    // ---- Device events (any thread, one at a time) ----
    void onKey(int group, int key, int modifier);
    void onNoteTakerKey(int byte0, int byte1, int byte2);
    void onBroadcast(int bits, int hold, int previous);
    void onData(int code, std::span<const uint8_t> bytes);
    void onPen(int event, int x, int y, int buttons);

    // ---- Dialog operations ----
    // 275..280 on the current condition (275..279 switch the automatic
    // threshold off first); PublishView.
    void conditionCommand(int id);
    // 272.
    void toggleEmulation();
    // 262 / 263: zoom by a factor 2, at the mouse while emulating.
    void zoomCommand(bool out);
    // 529..535, 527 with their side effects; false for another id.
    bool menuCommand(int id, bool& viewFrame, keys::MenuEffects& effects);

    // Replaces the screen image port (it may need the handler itself).
    void setSaveScreenImage(std::function<void(bool whole)> f) { ports_.saveScreenImage = std::move(f); }

    // The watch thread's look at the real pointer while emulation, a pen drag
    // or mouse-sync is on: the emulated mouse (and its marker) takes the
    // pointer's position, mouse-sync moves the view to it. True while such a
    // mode is on (the viewer then asks often).
    bool followRealMouse();

    // At shutdown: the real mouse goes to the emulated position, when one is known.
    void moveToEmulatedPosition();

    // ---- Settings ----
    keys::FunctionFilters filters() const;
    void setFilters(const keys::FunctionFilters& f);
    std::array<keys::ConditionSlot, 4> conditions() const;
    void setConditions(const std::array<keys::ConditionSlot, 4>& slots);

    // ---- State for tests and the dialog ----
    bool locked() const;
    int infoPage() const;
    bool emulating() const;
    keys::MousePoint mouse() const;
    int textLinePage() const;
    // The context the next key would be decoded with.
    keys::KeyContext context();

    // ---- Drawing hooks (refresh thread) ----
    bool drawInfoPage(const ViewRecord& r, DotPanel& panel);
    void drawOverlays(const ViewRecord& r, DotPanel& main, DotPanel& layer);
    void buildTextLine(const ViewRecord& r, TextLine& line);

private:
    keys::KeyContext contextLocked();
    void run(const keys::ActionList& actions);
    // One device key: fits the record to its window, decodes with `decode(context)`, runs the actions.
    template <class Decode>
    void decodeKeyAndRun(Decode decode);
    // Carries one action out; the state lock is held.
    void perform(const keys::KeyAction& a);
    keys::ViewRect viewRectOf(const ViewRecord& r) const;
    void writeViewRect(ViewRecord& r, const keys::ViewRect& v) const;
    keys::ViewGrid gridOf(const ViewRecord& r) const;
    // Stores the current view and condition in bookmark n (0..2), or recalls
    // them from it; true when a recall changed the view (the caller publishes).
    bool bookmark(int n, bool recall);
    void moveMouse();
    void updateMouseText();
    // The record or the display range changed beside the keys: an emulated
    // mouse goes to the centre of the new view.
    void followRecord();
    void startEmulationLocked(int buttons);
    void stopEmulationLocked();
    void mouseAction(const std::function<void(keys::ViewRect&, const keys::ViewGrid&, keys::MousePoint&)>& f);
    void zoomTo(int32_t cell, keys::ZoomAnchor anchor);
    void playTone(keys::Tone tone);
    // The saved mouse position of record i; none when the record was started
    // anew for another window since it was saved. With m_ held.
    keys::SavedMouse& savedFor(int i);

    Viewer& viewer_;
    InputPorts ports_;
    bool japanese_;
    mutable std::mutex m_;
    std::mutex eventMutex_;  // one device event at a time

    keys::FunctionFilters filters_ = keys::FunctionFilters::builtIn();
    bool locked_ = false;
    int infoPage_ = keys::kPageImage;
    keys::ShiftState shift_;
    keys::StripState strips_;
    int stepX_, stepY_;
    keys::Emulation emu_;
    bool penDrag_ = false;
    // The mouse position saved per view record, with the record's epoch when it was saved.
    std::array<keys::SavedMouse, kRecordCount> saved_{};
    std::array<uint32_t, kRecordCount> savedEpoch_{};
    bool largeHistogram_ = false;
    int textLinePage_ = 0;
    int subSelector_ = 0;
    std::array<keys::ConditionSlot, 4> conditions_{};
    std::string lastMouseText_;  // text 273 last shown
    std::function<void()> previousModesChanged_;
    int lastRecord_ = -1;
    WindowId lastCapture_ = 0;
};

}  // namespace lumo
