/* Public C interface of the image library: BMP files, packed DIBs, screen capture,
 * binarization conditions, pin panels, dot maps, the pre-scan and its effects.
 * Every record here has a fixed byte layout (x86-64) shared with the other components. */
#ifndef LUMOUTIL_H
#define LUMOUTIL_H

#include <stddef.h>
#include <stdint.h>

#include "common/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Bitmaps ------------------------------------------------------------------------------
 * The library's own device-dependent bitmap: 32-bit pixels 0x00RRGGBB, rows top-down, nWidth
 * pixels per row. Created by the library, freed only by lumoDeleteBitmap. */
typedef struct LumoBitmap {
    int32_t nWidth;
    int32_t nHeight;
    uint32_t* lpPixels;
} LumoBitmap;

typedef LumoBitmap* LumoHBITMAP;
/* A movable memory block holding one packed DIB; opaque, owned by a DibHandle. */
typedef struct LumoDibBlock* LumoHGLOBAL;
/* An X11 window id; 0 stands for the whole primary screen. */
typedef unsigned long LumoHWND;

/* The 40-byte info header of a packed DIB (and of a BMP file). */
typedef struct LumoBitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} LumoBitmapInfoHeader;

/* An opened image: always a 24-bit DIB, rows of nStride bytes, pixels blue, green, red. Image row
 * y (0 = top) is at lpBits + y * nStride when lpbi->biHeight < 0, else at
 * lpBits + (nHeight - 1 - y) * nStride. */
typedef struct DibHandle {
    LumoHBITMAP hBitmap;
    LumoHGLOBAL hDib;
    LumoBitmapInfoHeader* lpbi;
    uint8_t* lpBits;
    int32_t nStride;
    int32_t nHeight;
    int32_t nWidth;
} DibHandle;

typedef struct CaptureArea {
    LumoHWND hWnd;
    int32_t x;
    int32_t y;
    int32_t cx;
    int32_t cy;
    int32_t nFitX;
    int32_t nFitY;
    int32_t fClient;
    int32_t nMarginLeft;
    int32_t nMarginRight;
    int32_t nMarginTop;
    int32_t nMarginBottom;
} CaptureArea;

/* ---- Binarization condition ------------------------------------------------------------------ */
#define BIN_LIGHT 0x0001
#define BIN_EQUAL 0x0002
#define BIN_DARK 0x0004
#define BIN_RED 0x0010
#define BIN_GREEN 0x0020
#define BIN_BLUE 0x0040
#define BIN_RANGE 0x0080
#define BIN_PRESCANNED 0x1000
#define BIN_ERASE_GRID 0x2000
#define BIN_OUTLINE 0x4000
#define BIN_CHARACTER 0x8000

typedef struct BinCondition {
    uint16_t bMode;
    int32_t fAutoThreshfold;
    uint8_t bThreshfold;
    uint8_t bThreshfoldMin;
    uint8_t bThreshfoldMax;
    uint32_t dwPixelCount;
    uint32_t dwPeakCount;
    uint32_t adwHistogram[256];
} BinCondition;

typedef struct ScanContext {
    DibHandle dib;
    BinCondition* lpCondition;
    int32_t nOriginX;
    int32_t nLimitX;     /* -1 = image width */
    int32_t nOriginY;
    int32_t nLimitY;     /* -1 = image height */
    int32_t nCellWidth;  /* > 0 */
    int32_t nCellHeight; /* > 0 */
    int32_t nCellX;
    int32_t nCellY;
    int32_t nHistLeft;
    int32_t nHistRight;  /* -1 = image width */
    int32_t nHistTop;
    int32_t nHistBottom; /* -1 = image height */
    int32_t nLineThickness;
    int32_t nHLineLength;
    int32_t nVLineLength;
    int32_t nDepthLimit;
    int32_t anReserved[12]; /* not read by the library */
} ScanContext;

/* ---- Pin panels and dot maps ----------------------------------------------------------------
 * Panel byte b * nStride + x holds column x of pin rows 8b..8b+7, bit k = row 8b + k. */
typedef struct DotPanel {
    int32_t nStride;
    int32_t nSize;
    uint8_t* lpData;
    int32_t nWidth;
    int32_t nHeight;
} DotPanel;

typedef struct DotMap {
    int32_t nAllocWidth;
    int32_t nAllocHeight;
    uint8_t* lpData;
    int32_t nWidth;
    int32_t nHeight;
} DotMap;

#define DOTOP_COPY 0
#define DOTOP_OR 1
#define DOTOP_AND 2
#define DOTOP_RAISE 3
#define DOTOP_LOWER 4
#define DOTOP_FRAME 5
#define DOTOP_READ 6

typedef struct DotOpRequest {
    DotMap* lpMap;
    int32_t nMapX;
    int32_t nMapY;
    int32_t nWidth;
    int32_t nHeight;
    int32_t nPanelX;
    int32_t nPanelY;
    uint8_t bOperation;
} DotOpRequest;

/* ---- Bitmaps, BMP files, DIBs ------------------------------------------------------------------
 * Results: 1 true, 0 false; pointers are null on failure. Nothing blocks except file I/O and the
 * X server round trips of the capture functions. */

/* A new black bitmap of the given size, or null (sizes must be positive and sane). */
TAVIK_API LumoHBITMAP lumoCreateBitmap(int32_t width, int32_t height);
/* Frees a bitmap made by this library; null does nothing. */
TAVIK_API void lumoDeleteBitmap(LumoHBITMAP hBitmap);

/* Loads a BMP file (1, 4, 8, 16, 24, 32 bits; bit fields; RLE4, RLE8; 12- or 40-byte headers; file
 * header optional). size (optional) receives width and |height|. Null on any failure. */
TAVIK_API LumoHBITMAP lumoLoadBmp(const char* path, int32_t* size);
/* Writes the bitmap as a 24-bit bottom-up BMP file: a new file beside the target renamed over it
 * once complete. A symbolic link at `path` is followed only when it belongs to the caller; anyone
 * else's is replaced (or, in a sticky folder such as /tmp, the save fails). 1 on success, else 0. */
TAVIK_API int32_t lumoSaveBmp(LumoHBITMAP hBitmap, const char* path);
/* Header of a BMP file in a static record (not thread-safe), or null; estimate (optional) gets
 * the memory the loaded image will need. */
TAVIK_API LumoBitmapInfoHeader* lumoGetDibProperties(const char* path, int32_t* estimate);

/* Converts dib->hBitmap (when set) to a 24-bit bottom-up DIB owned by the record and locks it.
 * On failure the DIB is freed and hDib is null. An hDib already open is not freed: close first. */
TAVIK_API int32_t lumoOpenDib(DibHandle* dib);
/* Fills lpbi, lpBits, nStride, nHeight, nWidth; false for no DIB or an empty one. */
TAVIK_API int32_t lumoLockDib(DibHandle* dib);
TAVIK_API void lumoUnlockDib(DibHandle* dib);
/* Frees hDib and sets it (and the row pointers) to null; harmless on a closed record. */
TAVIK_API void lumoCloseDib(DibHandle* dib);

/* ---- Screen (X11) ------------------------------------------------------------------------------ */
/* Captures the area (with margins) of a window or the screen; parts off the screen are black.
 * Writes back the adjusted fields. Null without a display, for a bad window or an empty area. */
TAVIK_API LumoHBITMAP lumoGetBmp(CaptureArea* area);
/* Keeps an area inside its window by the fit modes; false only for a bad window. */
TAVIK_API int32_t lumoAreaCheck(CaptureArea* area);
/* One screen pixel (blue, green, red), relative to a window or its client area. */
TAVIK_API int32_t lumoGetPixel(uint8_t* bgr, LumoHWND hWnd, int32_t x, int32_t y, int32_t fClient);
/* A capture kept between refreshes: the 24-bit DIB a screen area is captured into, reused while
 * the size stays (no allocation per capture), and the plan of the next capture. Opaque; one thread
 * at a time per object. */
typedef struct LumoCapture* LumoHCAPTURE;
/* A new capture object, or null when memory runs out. */
TAVIK_API LumoHCAPTURE lumoNewCapture(void);
/* Frees the object and its DIB (handles given out by it become invalid); null does nothing. */
TAVIK_API void lumoFreeCapture(LumoHCAPTURE capture);
/* Plans the capture of the area: adjusts and writes back the area's fields exactly as lumoGetBmp
 * does. False (no plan kept) where lumoGetBmp would fail before copying pixels. */
TAVIK_API int32_t lumoPlanCapture(LumoHCAPTURE capture, CaptureArea* area);
/* Captures the planned area and opens it in dib as a locked 24-bit bottom-up DIB whose pixels are
 * those lumoOpenDib gives for lumoGetBmp's bitmap of the same area (parts off the screen black).
 * The DIB belongs to the capture object: it stays valid until the next capture call on it or
 * lumoFreeCapture; lumoCloseDib on it only releases the handle. False (dib cleared) without a plan,
 * without a display, or when memory runs out. */
TAVIK_API int32_t lumoCaptureDib(LumoHCAPTURE capture, DibHandle* dib);
/* lumoCaptureDib into ctx->dib followed by lumoPreScan(ctx), with the pixels converted row by row
 * inside the pre-scan's encoding pass (one pass over the image instead of three). The results, the
 * image and ctx are exactly those of the two calls. False when the capture or the pre-scan fails;
 * ctx->dib.hDib is set whenever the capture succeeded (the image then holds the captured pixels,
 * pre-scanned or, when the pre-scan could not start, as captured). Holds the library's desktop
 * connection for the whole call. */
TAVIK_API int32_t lumoCapturePreScan(LumoHCAPTURE capture, ScanContext* ctx);
/* One pixel of a bitmap (blue, green, red); outside the bitmap all three bytes are 255. */
TAVIK_API int32_t lumoGetPixelFromBmp(uint8_t* bgr, LumoHBITMAP hBitmap, int32_t x, int32_t y);

/* ---- Binarization ------------------------------------------------------------------------------- */
/* Every function taking a ScanContext needs an open DIB and a condition; it first writes back the
 * normalised limits (-1 or too large -> image size). None of them blocks or allocates per pixel. */
/* Histogram of the qualifying pixels of the histogram window (and, with fAutoThreshfold, the
 * thresholds and comparison); false when no pixel qualifies. Clears BIN_PRESCANNED. */
TAVIK_API int32_t lumoSetValidThreshfold(ScanContext* ctx);
/* Preview: qualifying pixels in greys 64..191, others white, matching cells outlined in black.
 * The caller deletes the bitmap; null when out of memory or the context is not open. */
TAVIK_API LumoHBITMAP lumoCreateBinaryBitmap(ScanContext* ctx);

/* ---- Panels and maps ------------------------------------------------------------------------------ */
/* Zero-filled panel or map (header and data in one block), or null. */
TAVIK_API DotPanel* lumoNewPanel(int32_t width, int32_t height);
TAVIK_API DotMap* lumoNewDotMap(int32_t width, int32_t height);
/* Sets the used size (at most the allocated one) and lowers its dots. */
TAVIK_API void lumoClearDotMap(DotMap* map, int32_t width, int32_t height);
/* Free a panel or map made above; null does nothing. Both accept either kind. */
TAVIK_API void lumoFreePanel(void* block);
TAVIK_API void lumoFreeDotMap(void* block);
/* Pin (x, r) is raised when the cell of nCellWidth x nCellHeight pixels at (nOriginX + x * nCellWidth,
 * nOriginY + r * nCellHeight), cut by the limits, holds a pixel meeting the condition. Rewrites the
 * whole panel (all pins lowered when the context cannot be scanned). */
TAVIK_API void lumoSetPanel(ScanContext* ctx, DotPanel* panel);
/* Operation DOTOP_* of a map rectangle on the panel, clipped to both; false when the operation
 * needs map data that is missing or (read back) the map is too small. */
TAVIK_API int32_t lumoDotOperation(DotOpRequest* request, DotPanel* panel);

/* ---- Pre-scan, effects, dot finding --------------------------------------------------------------- */
/* Converts the image in place (byte 0 qualify flag and marks, byte 1 grey, byte 2 effect work
 * value), fills the histogram, applies the automatic threshold and the requested effect, sets
 * BIN_PRESCANNED. False when no pixel of the histogram window qualifies (the image is converted
 * all the same). Irreversible: reopen the image to scan it with another filter or effect. The
 * effects use work memory kept by the calling thread (about 1.3 bytes per pixel, reused by later
 * calls); in the rare case it cannot be had, the call returns false and changes nothing. */
TAVIK_API int32_t lumoPreScan(ScanContext* ctx);
/* Threads the full-image passes of the pre-scan may use, 1 (the default) to 8; the results are
 * the same whatever the number. Returns the previous setting. Helper threads are started on first
 * use and kept until the process ends; one pass at a time uses them. */
TAVIK_API int32_t lumoSetScanThreads(int32_t threads);
/* Moves nOriginY to the first row and nOriginX to the first column (at or below it) of the scan
 * window holding the key colour (blue + 256 green + 65536 red); false and nothing moved if none. */
TAVIK_API int32_t lumoFindDot(ScanContext* ctx, uint32_t colourKey);

#ifdef __cplusplus
}
#endif

#endif
