/* The boundary between the client library (no Qt) and its Qt dialog library
 * (libtavikutil_ui.so): the library hands the dialog a table of what it may call; the
 * dialog library exports one entry point for it. Plain C so either side can change
 * its insides freely. */
#ifndef TAVIK_CONDITION_DIALOG_SERVICES_H
#define TAVIK_CONDITION_DIALOG_SERVICES_H

#include "client/tavikutil.h"
#include "client/viewer/bitmap_viewer.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*TavikDialogRefreshHook)(BitmapViewerRecord* record);
typedef void (*TavikDialogCloseHook)(void);

typedef struct ConditionDialogServices {
    /* Runs condition operation `op` (tavik::viewer::CondOp) with walk and value on the
     * open viewer; 1 changed, 0 no change or no viewer. Calls the refresh hook itself. */
    int (*operate)(int op, int walk, int value);
    /* Sends the view to the display again (OK). */
    void (*refreshView)(void);
    /* Has the viewer call the hooks (null: none) on every condition change and when it closes. */
    void (*setHooks)(TavikDialogRefreshHook refresh, TavikDialogCloseHook close);
    /* Makes the open viewer call the refresh hook with its record; 0 without a viewer. */
    int (*requestRefresh)(void);
    /* 1 for the Japanese texts. */
    int japanese;
} ConditionDialogServices;

/* The dialog library's entry: shows the dialog modally; 1 when it was shown and
 * closed, 0 when it cannot be shown (no display). */
typedef int (*TavikUiShowConditionDialogFn)(TavikWindow owner, const ConditionDialogServices* services);

#define TAVIK_UI_LIBRARY_FILE "libtavikutil_ui.so"
#define TAVIK_UI_SHOW_CONDITION_DIALOG "tavikUiShowConditionDialog"

#ifdef __cplusplus
}
#endif

#endif /* TAVIK_CONDITION_DIALOG_SERVICES_H */
