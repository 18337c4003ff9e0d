/* The C function table between the client library and its dialog library
 * (libtavikutil_ui.so, Qt 6 Widgets), loaded with dlopen only when a question
 * must be asked. Plain C so that neither side depends on the other's C++
 * runtime details; every string is UTF-8 and owned by the caller. */
#ifndef TAVIK_SELECTION_UI_BRIDGE_H
#define TAVIK_SELECTION_UI_BRIDGE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TAVIK_UI_TABLE_VERSION 1u
/* The dialog library's one export: returns its table (never null). */
#define TAVIK_UI_ENTRY_NAME "tavikSelectionUi"

/* Button sets of a message box. */
#define TAVIK_UI_OK_CANCEL 1
#define TAVIK_UI_YES_NO_CANCEL 3

/* Answers; also the objectName of each message box button ("1", "2", "6", "7"). */
#define TAVIK_UI_ANSWER_NONE 0 /* the box could not be shown */
#define TAVIK_UI_ANSWER_OK 1
#define TAVIK_UI_ANSWER_CANCEL 2
#define TAVIK_UI_ANSWER_YES 6
#define TAVIK_UI_ANSWER_NO 7

/* Control ids of the port selection dialog (objectNames of its widgets). */
#define TAVIK_UI_PORT_DIALOG_ID 512
#define TAVIK_UI_PORT_LIST_ID 513
#define TAVIK_UI_DEVICE_LIST_ID 516
#define TAVIK_UI_OK_ID 1
#define TAVIK_UI_CANCEL_ID 2

typedef struct TavikUiMessage {
    const char* caption;
    const char* text;
    int buttons;          /* TAVIK_UI_OK_CANCEL or TAVIK_UI_YES_NO_CANCEL */
    unsigned long owner;  /* X11 window id the box belongs to, 0 for none */
} TavikUiMessage;

typedef struct TavikUiPortDialog {
    /* Texts in the interface language. */
    const char* title;
    const char* portLabel;
    const char* deviceLabel;
    const char* okText;
    const char* cancelText;
    /* The two lists; `selected...` is the row shown selected on opening (-1 or
     * out of range: none) and, after OK, the row the user chose (unchanged when
     * the list had no selection). */
    const char* const* ports;
    int portCount;
    int selectedPort;
    const char* const* devices;
    int deviceCount;
    int selectedDevice;
    unsigned long owner;
} TavikUiPortDialog;

typedef struct TavikUiTable {
    uint32_t version; /* TAVIK_UI_TABLE_VERSION */
    uint32_t size;    /* sizeof(TavikUiTable) of the library */
    /* Shows a modal message box and blocks until it is answered. Returns one
     * of the answers; TAVIK_UI_ANSWER_NONE when no box can be shown (no display,
     * a foreign GUI thread, an offscreen platform without a script). */
    int (*messageBox)(const TavikUiMessage* message);
    /* Shows the modal port selection dialog and blocks until it is closed.
     * 1 after OK (the selections are written back), 0 after Cancel, closing
     * the window, or when the dialog cannot be shown. */
    int (*portDialog)(TavikUiPortDialog* dialog);
} TavikUiTable;

typedef const TavikUiTable* (*TavikUiEntry)(void);

#ifdef __cplusplus
}
#endif

#endif /* TAVIK_SELECTION_UI_BRIDGE_H */
