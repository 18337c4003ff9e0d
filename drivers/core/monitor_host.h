/* How a plug-in's monitor window meets the windowing host of the process that
 * loaded it. The plug-in keeps the picture and its state; the host (the
 * controller's window system) owns the on-screen window and paints it from
 * the picture. A host hands itself to the plug-in with drvSetMonitorHost;
 * without a host drvOpenMonitorWindow returns 0. Plain C like plugin_api.h. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* System-menu commands of the monitor window. */
#define TAVIK_MONITOR_KEEP_ON_TOP 257
#define TAVIK_MONITOR_SMALL 258
#define TAVIK_MONITOR_MIDDLE 259
#define TAVIK_MONITOR_LARGE 260

/* The plug-in's side of one open monitor window, given to the host at open.
 * Valid until the host's close slot returns or the host calls closed. All
 * slots are called on the host's main thread. */
typedef struct TavikMonitorView {
    void* context;
    /* The picture's size in pixels (the window's client area). */
    void (*size)(void* context, int32_t* width, int32_t* height);
    /* Copies the composed picture (0xFFRRGGBB, rows top to bottom) into dest,
     * whose rows are `stride` pixels apart and which holds `width` x `height`
     * pixels. Returns 1, or 0 when the picture was busy (up to 500 ms) or its
     * size differs from width x height: the host then keeps what it shows. */
    int32_t (*copy)(void* context, uint32_t* dest, int32_t width, int32_t height, int32_t stride);
    /* A system-menu command: TAVIK_MONITOR_SMALL..LARGE rebuild the picture for
     * 5, 10 or 15 pixels a dot (the host then asks size and resizes); the
     * keep-on-top toggle is the host's own and needs no call. */
    void (*command)(void* context, int32_t command);
    /* The window moved: its left and top are remembered for the next open. */
    void (*moved)(void* context, int32_t x, int32_t y);
    /* The user closed the window; the view is invalid after this call. */
    void (*closed)(void* context);
} TavikMonitorView;

/* The host's side. open and close run on the host's main thread (the thread
 * that calls drvOpenMonitorWindow / drvCloseMonitorWindow); invalidate may be
 * called from any thread and never blocks. */
typedef struct TavikMonitorHost {
    void* context;
    /* Shows a window titled `utf8Title` with the view's picture as its client
     * area, at the saved position (x, y) moved onto the screen, topmost when
     * keepOnTop, with the menu checks for cellSize and keepOnTop. Returns the
     * window's id (not 0), or 0 when no window can be made. */
    intptr_t (*open)(void* context, const TavikMonitorView* view, const char* utf8Title, int32_t x, int32_t y,
                     int32_t cellSize, int32_t keepOnTop);
    /* Schedules a repaint of the window from the view's picture. */
    void (*invalidate)(void* context, intptr_t window);
    /* Destroys the window without calling the view's closed slot. */
    void (*close)(void* context, intptr_t window);
} TavikMonitorHost;

typedef void (*TavikDrvSetMonitorHostFn)(const TavikMonitorHost* host);

#ifdef __cplusplus
}
#endif
