// The broadcast handler's key memory: held key combinations (chords) of the
// display turn the status screens on and off. Pure state machine.
#pragma once

namespace tavik::viewer {

struct ChordMemory {
    int lastCode = -1;      // last event code seen, bit 0x20 removed
    int accumulated = 0;    // keys pressed since all were last released
    int previousChord = 0;  // the last completed chord
    bool chordFlag = false; // the condition screen was entered with the keys held
};

struct ChordResult {
    bool handled = false;  // the handler's result (1) and a refresh of the view
    bool screenChanged = false;
};

// One broadcast event: code c, value v (hold time), last byte b. May change statusScreen
// (0 image, -1 condition, 1 position).
ChordResult onBroadcast(ChordMemory& memory, int c, int v, int b, int& statusScreen);

}  // namespace tavik::viewer
