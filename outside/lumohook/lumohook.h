/* The focus hook library LumoHook (least stand-in): an accessibility
 * listener that fills the focus records of "Lumo hook data" from AT-SPI 2
 * focus and caret-moved events. Loaded at run time by the screen viewer. */
#ifndef LUMOHOOK_H
#define LUMOHOOK_H

#include "common/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Starts the listener thread. 1 when it runs, 0 when there is no
 * accessibility bus or no hook section (the viewer then follows the window
 * in front alone). `args` is not read. Returns at once. */
TAVIK_API int StartMSAAThread(void* args);
/* Stops the listener (waits at most about 0.2 s: an accessibility thread held
 * up by an application ends the listener later by itself) and releases the
 * hook section once no handler can run any more.
 * Harmless when it was not started. */
TAVIK_API int EndMSAAThread(void);

#ifdef __cplusplus
}
#endif

#endif
