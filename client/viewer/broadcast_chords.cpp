// Chord handling of broadcast events (see broadcast_chords.h).
#include "client/viewer/broadcast_chords.h"

namespace tavik::viewer {

ChordResult onBroadcast(ChordMemory& mem, int c, int v, int b, int& statusScreen) {
    const int e = c & 0xDF;
    const bool held = (c & 0x60) == 0x60;
    const int screenBefore = statusScreen;
    if (e == mem.lastCode) {
        if (statusScreen == -1) mem.chordFlag = mem.chordFlag || held;
        if (c != 0) return {};
    }
    mem.lastCode = e;
    if (c == 0) {
        if (mem.accumulated != 0 && mem.accumulated != 0x80) {
            if (v >= 100 || b != 0 || mem.chordFlag || mem.accumulated == mem.previousChord) {
                statusScreen = 0;
                mem.previousChord = 0;
                mem.chordFlag = false;
            } else {
                mem.previousChord = mem.accumulated;
            }
        }
        mem.accumulated = 0;
    } else if (e != 0) {
        mem.accumulated |= e;
        if (mem.accumulated == 0x40) {
            statusScreen = -1;
            mem.chordFlag = held;
        } else if (mem.accumulated == 0xC0) {
            statusScreen = 1;
        }
    }
    return {true, statusScreen != screenBefore};
}

}  // namespace tavik::viewer
