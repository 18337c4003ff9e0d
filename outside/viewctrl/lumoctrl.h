/* The view-control library LumoCtrl as the bitmap viewer uses it: a session,
 * one entry per viewer window, a function mask per entry and the last reported
 * view position. This stand-in keeps its entries in memory; none of the calls
 * blocks. */
#ifndef LUMOCTRL_H
#define LUMOCTRL_H

#include <stdint.h>

#include "common/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* An entry handle; 0 stands for none. */
typedef uintptr_t LumoCtrlEntry;

/* Starts the session (1) or fails (0; the caller then ends). Counted: every
 * successful start needs one lumoEndCtrl. */
TAVIK_API int lumoStartCtrl(void);
/* Ends one start; the last end drops every entry. */
TAVIK_API void lumoEndCtrl(void);
/* An entry for a window (X11 id, may be 0); 0 without a started session. */
TAVIK_API LumoCtrlEntry lumoCreateEntry(unsigned long window);
/* mask selects the bits of the entry's function mask that take value's bits. 0 for an unknown entry. */
TAVIK_API int lumoSetFunctionMask(LumoCtrlEntry entry, uint32_t value, uint32_t mask);
/* Records the view position (window coordinates) and pixels per pin. The
 * pointers are read, never kept; 0 for an unknown entry or a null pointer. */
TAVIK_API int lumoSetViewPosition(LumoCtrlEntry entry, int32_t* x, int32_t* y, int32_t divX, int32_t divY);

/* Stand-in only: the entry's state, for diagnostics and tests. Any output may be null. */
TAVIK_API int lumoQueryEntry(LumoCtrlEntry entry, uint32_t* mask, int32_t* x, int32_t* y, int32_t* divX,
                             int32_t* divY, int32_t* reports);

#ifdef __cplusplus
}
#endif

#endif /* LUMOCTRL_H */
