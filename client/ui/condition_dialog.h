/* The client library's binarization condition dialog ("Two-level Conditions")
 * for the open bitmap viewer. The dialog itself is Qt and lives in the
 * dialog library (libtavikutil_ui.so), which the client library loads on first use, so the
 * client library keeps running where there is no Qt or no display. */
#ifndef TAVIK_CONDITION_DIALOG_H
#define TAVIK_CONDITION_DIALOG_H

#include "client/tavikutil.h"
#include "common/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Shows the dialog modally over `owner` (X11 window id, 0: none) on the calling
 * thread, which must be the thread that runs the application's Qt event loop
 * (or any thread when the application has none). Blocks until the dialog
 * closes; returns 1 then. Condition changes take effect at once; device keys
 * may change the condition meanwhile and the dialog follows them. 0 when the
 * dialog library cannot be loaded or shown (no Qt, no display). */
TAVIK_API int gdShowConditionDlg(TavikWindow owner);

#ifdef __cplusplus
}
#endif

#endif /* TAVIK_CONDITION_DIALOG_H */
