/* Public interface of the client library's bitmap viewer: the application fills a
 * BitmapViewerRecord and opens the viewer on its entered port; from then on the
 * display's keys scroll, zoom, switch the overview and drive a pointer. */
#ifndef TAVIK_BITMAP_VIEWER_H
#define TAVIK_BITMAP_VIEWER_H

#include <stdint.h>

#include "common/export.h"
#include "imaging/lumoutil.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A stored binarization condition (16 bytes). */
typedef struct ConditionMemo {
    int32_t valid; /* 1 once written */
    int32_t fAutoThreshfold;
    uint8_t bThreshfold;
    uint8_t bThreshfoldMin;
    uint8_t bThreshfoldMax;
    uint8_t bPad;
    uint16_t bMode;
    uint16_t wPad;
} ConditionMemo;

struct BitmapViewerRecord;

/* The messages of a pointer report. */
enum GdViewerPointerMessage {
    GD_VIEWER_POINTER_MOVE = 512,
    GD_VIEWER_POINTER_LEFT_DOWN = 513,
    GD_VIEWER_POINTER_LEFT_UP = 514,
    GD_VIEWER_POINTER_RIGHT_DOWN = 516,
    GD_VIEWER_POINTER_RIGHT_UP = 517
};

/* Pointer reports: one of GdViewerPointerMessage; x, y in image pixels; buttons bit 0 left,
 * bit 1 right. Runs on the library's notification thread. */
typedef void (*GdViewerMouseCallback)(int message, int x, int y, int buttons);
/* Sees every device key (event type, key byte, modifier byte) before the viewer; non-zero means
 * the application handled it. Runs on the notification thread and may call the gd viewer calls. */
typedef int (*GdViewerKeyHook)(int type, int key, int modifier, struct BitmapViewerRecord* record);

/* Owned by the application; must stay valid from gdOpenBitmapViewer to gdCloseBitmapViewer. */
typedef struct BitmapViewerRecord {
    LumoHBITMAP hSourceBitmap;    /* 0: the image (application) */
    ScanContext scan;             /* 8: the opened image and its scan window (library) */
    int32_t imageWidth;           /* 176 */
    int32_t imageHeight;          /* 180 */
    int32_t viewTop;              /* 184: top image row of the view */
    int32_t viewLeft;             /* 188: left image column of the view */
    int32_t cellHeight;           /* 192: image rows per dot */
    int32_t cellWidth;            /* 196: image columns per dot */
    BinCondition condition;       /* 200 */
    int32_t overviewMode;         /* 1244 */
    int32_t overviewFrame;        /* 1248 */
    int32_t detailLeft;           /* 1252 */
    int32_t detailTop;            /* 1256 */
    int32_t detailCellWidth;      /* 1260 */
    int32_t detailCellHeight;     /* 1264 */
    int32_t pointerMode;          /* 1268 */
    int32_t pointerX;             /* 1272 */
    int32_t pointerY;             /* 1276 */
    int32_t pointerButtons;       /* 1280 */
    int32_t reserved;             /* 1284 */
    GdViewerMouseCallback mouseCallback; /* 1288 (application, may be null) */
    int32_t savedFlag;            /* 1296 */
    int32_t savedView[4];         /* 1300: left, top, division x, division y */
    ConditionMemo savedCondition; /* 1316 */
    int32_t refreshed;            /* 1332: set to 1 after every refresh */
    ConditionMemo conditionMemos[4]; /* 1336 */
    int32_t scanParams[10];       /* 1400: copied into the pre-scan parameters (application) */
    GdViewerKeyHook keyHook;      /* 1440 (application, may be null) */
} BitmapViewerRecord;

/* All return 1 on success, 0 on failure; all but gdOpenBitmapViewer return 0 without an open
 * viewer. They run on the caller's thread and write to the display slot (waiting up to about 5 s
 * for it). */

/* Enters display mode on the entered port and shows the record's image. One viewer per process:
 * an open one is closed first. 0 without an entry, for a model the viewer does not know, when
 * memory runs out or the image cannot be opened; nothing stays open then. */
TAVIK_API int gdOpenBitmapViewer(BitmapViewerRecord* record);
/* Leaves display mode and closes the viewer (the record is no longer used). */
TAVIK_API int gdCloseBitmapViewer(void);
/* Scrolls the least distance that brings image pixel (x, y) into the view. */
TAVIK_API int gdSetViewPosition(int x, int y);
/* Scrolls by dx, dy dots, or by dx, dy scroll steps when stepFlag is non-zero. */
TAVIK_API int gdMoveViewPosition(int dx, int dy, int stepFlag);
/* Zooms to `division` image pixels per dot, clamped to 1 .. the division that fits the image. */
TAVIK_API int gdChangeDivision(int division);
/* Shows the whole image; frameFlag draws the frame of the detail view. */
TAVIK_API int gdStartOverviewMode(int frameFlag);
/* Returns from the overview to the detail view. */
TAVIK_API int gdEndOverviewMode(void);
/* Shows another image with the same view settings. A failure closes the viewer. */
TAVIK_API int gdChangeBitmap(LumoHBITMAP bitmap);
/* Reads the source bitmap again and applies the record's condition. A failure closes the viewer. */
TAVIK_API int gdRealizeCondition(void);

/* Handing the record over while the viewer is open. From gdOpenBitmapViewer to
 * gdCloseBitmapViewer the library's notification thread writes the record whenever a device key
 * changes the view, the condition or the memories, holding the viewer's lock. The application
 * then reads the record through gdCopyViewerRecord and changes the condition only through the
 * two calls below; reading or writing the condition or the memories directly races the keys.
 * (The int32 fields of the view, the overview, the pointer and the refresh flag are also stored
 * atomically: one of them alone may be read with an atomic load, and the refresh flag taken
 * with an atomic exchange; fields read that way may come from different keys.) These calls take
 * the viewer's lock, so they may be made from any thread, also from the key hook and the mouse
 * callback; they block while a key is being handled (which may write to the display slot, up to
 * about 5 s). */

/* Copies the whole record into *copy as it stands between two keys: the condition, view,
 * overview, pointer and memories all come from the same moment. 0 (copy untouched) without an
 * open viewer or with a null copy. */
TAVIK_API int gdCopyViewerRecord(BitmapViewerRecord* copy);
/* Replaces the condition's mode, automatic flag, threshold and bounds with those of *condition
 * (its histogram and counts are ignored; the automatic flag is 0 or 1), then reads the source
 * bitmap again and applies it as gdRealizeCondition does. 0 without an open viewer or with a null
 * condition; a failure to read the source closes the viewer. */
TAVIK_API int gdSetViewerCondition(const BinCondition* condition);
/* Replaces the mode bits selected by `mask` with those of `bits` and applies the condition as
 * gdSetViewerCondition does, in one step, so no key changing the threshold in between is lost. */
TAVIK_API int gdSetViewerModeBits(int mask, int bits);

#ifdef __cplusplus
}
#endif

#endif /* TAVIK_BITMAP_VIEWER_H */
