/* The least stand-in for the pen SDK "SkrivoNoteSDK": after InitPenMode the
 * library reports pen activity to the given pen window until StopPenMode.
 * On Linux the "window" is a record with a report function, called from the
 * library's own thread with the three-integer report (type, x, y). */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Report types: 1 touch (the next move is the touch-down point), 2 lift,
 * 3 move to (x, y) in pen units, 4/5 button 1 down/up, 6/7 button 2 down/up. */
typedef struct SkrivoReport {
    int32_t type;
    int32_t x;
    int32_t y;
} SkrivoReport;

/* The pen window: `report` runs on the library's reader thread, one report at
 * a time, and must not block. The record stays valid until StopPenMode returns. */
typedef struct SkrivoPenWindow {
    void* context;
    void (*report)(void* context, const SkrivoReport* report);
} SkrivoPenWindow;

/* Starts the reports to `window` (a SkrivoPenWindow*, as intptr_t). The pen
 * comes from, in order: $SKRIVO_SCRIPT (a file or FIFO of "type x y" lines),
 * $SKRIVO_DEVICE (an evdev node), the first pen among /dev/input/event* (absolute
 * X and Y with a pen tool or a stylus button). A tablet that goes away is
 * looked for again while pen mode is on.
 * 0 on success; non-zero when no pen source can be opened, the arguments are
 * null, or pen mode is already on. */
typedef int32_t (*SkrivoInitPenModeFn)(const char* className, intptr_t window);
/* Ends the reports; returns after the reader thread has ended (at most about
 * 200 ms). Nothing when pen mode is off. */
typedef void (*SkrivoStopPenModeFn)(void);

#ifdef __cplusplus
}
#endif
