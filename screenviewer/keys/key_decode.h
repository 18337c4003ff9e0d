// Decoding of the display's key events (key callback, notify code 4) and of
// the note-taker's (modelCode 2) into actions: the preamble, the condition
// table C, the navigation table N, the stick table S, the numbered-key tables
// F4, F6 and F0, the mouse keys and the text-line keys. Pure: bytes and a
// KeyContext in, actions out.
//
// Core use: in the key callback, FitViewToWindow on the current record, fill
// a KeyContext, call decodeKey(group, key, modifier, ctx) (or
// decodeNoteTakerKey with the three event bytes) and carry out the actions.
#pragma once

#include "screenviewer/keys/key_actions.h"
#include "screenviewer/keys/key_context.h"

namespace tavik::lumo {

// Dialog commands the keys send.
constexpr int kCmdApplicationWindow = 257, kCmdFullScreen = 258, kCmdFocusSync = 264, kCmdMouseSync = 265;
constexpr int kCmdRefreshNone = 268, kCmdRefresh01 = 269, kCmdRefresh02 = 270;
constexpr int kCmdThresholdUp = 275, kCmdThresholdDown = 276;
constexpr int kCmdToggleLight = 277, kCmdToggleEqual = 278, kCmdToggleDark = 279, kCmdToggleAuto = 280;

// Bytes outside 0..255 give no action.
ActionList decodeKey(int group, int key, int modifier, const KeyContext& ctx);
ActionList decodeNoteTakerKey(int byte0, int byte1, int byte2, const KeyContext& ctx);

// The tables alone (for the callers above and for tests).
// Table C on `code`; a code it does not list goes to table N as `fullCode`.
ActionList conditionTable(int code, int fullCode, const KeyContext& ctx);
ActionList navigationTable(int code, const KeyContext& ctx);
ActionList stickTable(int code, const KeyContext& ctx);
ActionList textLineKey(int key, const KeyContext& ctx);

}  // namespace tavik::lumo
