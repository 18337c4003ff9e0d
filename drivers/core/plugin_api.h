/* The interface between the controller and a driver plug-in: the exported
 * functions every plug-in offers and the status sink that stands in for the
 * controller's status window. Plain C so any host can load a plug-in. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The "status window" a host hands to drvSetStatusWindow, passed as the window
 * handle (a pointer to this record cast to intptr_t). The plug-in calls
 * setText with each status line (UTF-8) from any of its threads; the host
 * keeps the record alive until the plug-in is unloaded. A null handle makes
 * the plug-in print its lines on standard error. */
typedef struct TavikStatusSink {
    void* context;
    void (*setText)(void* context, const char* utf8Line);
} TavikStatusSink;

typedef intptr_t TavikWindowHandle;

/* Exports, with their results:
 *   Version()                      66052 (4.2.1, low byte first)
 *   drvInit(portIndex)             1 ok, 0 failed
 *   drvSetStatusWindow(handle)     remembers the status sink
 *   drvStart()                     1 started, 0 failed
 *   drvEnd()                       0
 *   drvIsConnected()               1 connected, else 0
 *   drvOpenMonitorWindow(title, dotSize, icon, keepOnTop)  window or 0
 *   drvCloseMonitorWindow()
 *   chSendDirectCommand(blockNumber)  0 (result goes into the block)
 *   chSendDirectBytes(blockNumber)    0 (result goes into the block)
 * and one diagnostic export, not needed by a host:
 *   drvDroppedNotifications()      device events dropped because a client's
 *                                  queue was full (never waited for) */
typedef int32_t (*TavikVersionFn)(void);
typedef int32_t (*TavikDrvInitFn)(int32_t portIndex);
typedef void (*TavikDrvSetStatusWindowFn)(TavikWindowHandle window);
typedef int32_t (*TavikDrvStartFn)(void);
typedef int32_t (*TavikDrvEndFn)(void);
typedef int32_t (*TavikDrvIsConnectedFn)(void);
typedef TavikWindowHandle (*TavikDrvOpenMonitorWindowFn)(const char* title, int32_t dotSize, intptr_t icon,
                                                         int32_t keepOnTop);
typedef void (*TavikDrvCloseMonitorWindowFn)(void);
typedef int32_t (*TavikChSendDirectCommandFn)(int32_t blockNumber);
typedef int32_t (*TavikChSendDirectBytesFn)(int32_t blockNumber);
typedef uint64_t (*TavikDrvDroppedNotificationsFn)(void);

#define TAVIK_INTERFACE_VERSION 66052

#ifdef __cplusplus
}
#endif
