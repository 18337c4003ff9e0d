/* Public interface of the client library tavikutil: the only way an
 * application reaches a tactile display. Every function returns 1 for success
 * and 0 for failure unless its comment says otherwise; callbacks run on the
 * library's own notification thread, never on the caller's thread. */
#ifndef TAVIKUTIL_H
#define TAVIKUTIL_H

#include <stdint.h>

#include "common/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* An X11 window id (0: no window, coordinates are screen coordinates). */
typedef unsigned long TavikWindow;
/* One UTF-16 code unit, for the wide-character calls. */
typedef uint16_t TavikWChar;

/* Called with the port's new connection status (0 none, 1 open, 2..5 failures, 8 closing). */
typedef void (*GdStatusCallback)(int status);
/* Device key event: the three bytes of the key frame (group, key, modifier). */
typedef void (*GdKeyCallback)(int byte0, int byte1, int byte2);
/* Broadcast event: first byte, the 32-bit event shifted right (arithmetically) by 8 bits, fourth byte. */
typedef void (*GdBroadcastCallback)(int byte0, int shifted, int byte3);
/* Data block: the frame's code byte, the byte count (0..65535) and the bytes (valid during the call). */
typedef void (*GdDataBlockCallback)(int code, int count, const unsigned char* data);
/* Direct-operation data: three values and the bytes that follow them (valid during the call). */
typedef void (*GdDirectOperationCallback)(int value1, int value2, int value3, const unsigned char* data);
/* Pen event: event code, pin x, pin y, button flags (one byte each). */
typedef void (*GdPenCallback)(int code, int x, int y, int buttons);

/* ---- Entering and leaving a port ---- */

/* Enters `portIndex` (0..63 Com1..Com64, 64..79 USB) for the device model `deviceName`
 * (case-insensitive). Starts the controller when none serves the port (waits up to about 10 s).
 * 1 also when this process already has an entry; 0 for an unknown model, a port identified as
 * another model, no controller, all 16 slots taken. */
TAVIK_API int gdStart(const char* deviceName, int portIndex, GdStatusCallback statusCallback);
/* As gdStart with a NUL-terminated UTF-16 name (at most 79 bytes once converted). */
TAVIK_API int gdStartW(const TavikWChar* deviceName, int portIndex, GdStatusCallback statusCallback);
/* Leaves the port: ends display mode and the direct-operation right, frees the slot. 0 without an entry. */
TAVIK_API int gdEnd(void);
/* Asks the controller to open the port again, starting the controller when it is not running. */
TAVIK_API int gdRestart(void);
/* Asks the controller to close the port; the entry stays. 0 while the port is already closing. */
TAVIK_API int gdClosePort(void);
/* Reopens a port this entry closed; waits up to 5 s for the controller. *result receives the
 * controller's value (0). 1 also when there was nothing to reopen. */
TAVIK_API int gdReopenPort(int* result);
/* Asks the controller to hide (1) or show (0) its window; 0 unless the controller allows it. */
TAVIK_API int gdHideTavikWindow(int flag);

/* ---- Port detection and selection ---- */

/* Looks for the tactile display's USB-serial port (and, with the Japanese interface, the braille
 * note-takers') and asks about each one found (Yes/No/Cancel boxes owned by `owner`). 1 when the
 * user accepted one (*portIndex, when given, receives its index 0..63); 0 when none was found or
 * all were declined; -1 after Cancel or when no question can be shown (no display). Blocks. */
TAVIK_API int gdUsbPortDetection(TavikWindow owner, int* portIndex);
/* Shows the modal "Port selection" dialog, stores the chosen port and model in TAVIK.ini and
 * enters that port as gdStart does. 1 when an entry is open (also one opened before); 0 after
 * Cancel, without a display, or when entering failed. Blocks while the dialog is open. */
TAVIK_API int gdStartSelection(GdStatusCallback statusCallback, TavikWindow owner);
/* Finds the "Pinora New PX-2" among the FTDI USB devices and registers it as a USB connection:
 * 1 with *modelName = "Pinora New PX-2" and *portIndex = 64..79; 0 when there is no such device,
 * it cannot be opened, or all 16 connections are taken. Outputs may be null. */
TAVIK_API int gdSelectFTConnection(const char** modelName, int* portIndex);
/* As gdSelectFTConnection, but first takes a port (79 down to 0) whose device has identified
 * itself as "Pinora New PX-2" (*connected = 1); else the search's result (*connected = 0). */
TAVIK_API int gdSelectFTConnectionEx(const char** modelName, int* portIndex, int* connected);

/* ---- Queries ---- */

/* Describes the device on `portIndex` (-1: the entered port). 1 only when the device has
 * identified itself; *name then points into a copy valid until the next call. Any output may be null. */
TAVIK_API int gdQueryEquipment(int portIndex, const char** name, int* textCells, int* graphicWidth,
                               int* graphicHeight);
/* As gdQueryEquipment with the name as UTF-16 (static buffer of 24 units). */
TAVIK_API int gdQueryEquipmentW(int portIndex, const TavikWChar** name, int* textCells, int* graphicWidth,
                                int* graphicHeight);
/* Port index, status and model name (null until the device identified itself) of the open port map. */
TAVIK_API int gdGetPortInfo(int* portIndex, int* status, const char** name);
/* Number of entries on the open port, -1 when no port map is open. */
TAVIK_API int gdGetEntriesCount(void);
/* Copies major, minor, revision of the controller (driver plug-in); 0 until it has announced itself. */
TAVIK_API int gdGetTavikVersion(unsigned char version[3]);
TAVIK_API int gdGetDriverVersion(unsigned char version[3]);
/* The library's version 4.2.1 packed low byte first: 66052. */
TAVIK_API int Version(void);

/* ---- Monitor port (only in a process without an entry) ---- */

/* Makes `monitorPort` show what `sourcePort` shows, starting its controller when needed. */
TAVIK_API int gdOpenMonitorPort(int sourcePort, int monitorPort);
TAVIK_API int gdCloseMonitorPort(void);

/* ---- Display mode and display writes ---- */

/* flags: bit 0 display mode, bit 1 default client. Any callback may be null. */
TAVIK_API int gdStartDisplayMode(int flags, GdKeyCallback key, GdBroadcastCallback broadcast,
                                 GdDataBlockCallback dataBlock);
/* Leaves display mode and forgets the key, broadcast, data-block and pen callbacks. */
TAVIK_API int gdEndDisplayMode(void);
/* Two banded dot planes of width x ceil(height / 8) bytes each: byte b * width + x holds column x
 * of rows 8b..8b+7, bit k = row 8b + k. Plane 1 alone clears the second plane; plane 2 alone keeps
 * the first. `level` goes with plane 2. Waits up to about 5 s for the slot. */
TAVIK_API int gdDisplayGraphicData(const unsigned char* plane1, const unsigned char* plane2, int level);
/* One byte per dot, row after row; format 0, 1, 2, 4 or 8. */
TAVIK_API int gdDisplayV2GraphicData(const unsigned char* dots, int format);
/* One byte per text cell (textCells bytes); null writes empty cells. Clears the second row. */
TAVIK_API int gdDisplayTextData(const unsigned char* text);
TAVIK_API int gdDisplayTextData2(const unsigned char* text, const unsigned char* text2);
/* Non-zero suspends this application's display (it is never shown), zero resumes it. */
TAVIK_API int gdSuspendDisplay(int flag);
/* Claims parts of the display for this application whichever window is in front (needs display
 * mode): bit 0 the text line (its text is shown there; the text-line keys come to it), bit 1 the
 * pin field (its graphic; the navigation keys and the stick), bit 2 the switch chord (Decrease +
 * Increase, also with nothing claimed). 0 gives them back; leaving display mode does too. */
TAVIK_API int gdClaimDisplayParts(int parts);

/* ---- Direct operation ---- */

/* Takes the port's direct-operation right (one holder per port). */
TAVIK_API int gdStartDirectOperation(GdDirectOperationCallback callback);
TAVIK_API int gdEndDirectOperation(void);
/* Sends one device command (needs the right and an open port) and waits for its completion,
 * at most 16 s. `length` is taken as unsigned 16-bit. */
TAVIK_API int gdPostDirectCommand(int command, int parameter, int length, const unsigned char* data);
/* As gdPostDirectCommand, asking the plug-in to wait up to replyWaitMs for a one-byte reply
 * (*reply, when given). Waits at most 16 s plus the reply wait. */
TAVIK_API int gdSendDirectCommand(int command, int parameter, int length, const unsigned char* data,
                                  int replyWaitMs, int* reply);
/* Sends raw bytes (needs the right and an open port); waits at most 16 s. */
TAVIK_API int gdSendDirectBytes(int length, const unsigned char* data);
/* Sends `count` items of 8 bytes as command 0xA0, taking and giving back the right itself. */
TAVIK_API int gdSendV2CCB(const unsigned char* data, int count);

/* ---- Input and mouse ---- */

/* Stores the pen callback (no entry needed); always 1. */
TAVIK_API int gdSetPenEventCallback(GdPenCallback callback);
/* 1 when the pointer moved since the last observation any process made, else 0 (also without X
 * or without an entry). *inside, *x, *y: the point relative to the window (client area with
 * clientFlag), or on the screen without a window. All three outputs are required. */
TAVIK_API int gdGetMouseState(TavikWindow window, int clientFlag, int* inside, int* x, int* y);
/* Moves the pointer. 0 when the point cannot be converted or there is no X display. */
TAVIK_API int gdSendMouseMove(TavikWindow window, int x, int y, int clientFlag);
/* Presses the requested buttons (bit 0 left, bit 1 right) not already down, then releases all. */
TAVIK_API int gdSendMouseClick(TavikWindow window, int x, int y, int clientFlag, int buttons);
/* Releases held buttons, then presses `buttons` and keeps them down. */
TAVIK_API int gdStartMouseDrag(TavikWindow window, int x, int y, int clientFlag, int buttons);

#ifdef __cplusplus
}
#endif

#endif /* TAVIKUTIL_H */
