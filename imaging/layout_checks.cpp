// Compile-time checks of the byte layouts the other components and stored records rely on.
#include <cstddef>

#include "imaging/lumoutil.h"

static_assert(sizeof(LumoBitmapInfoHeader) == 40);
static_assert(offsetof(LumoBitmapInfoHeader, biBitCount) == 14);
static_assert(offsetof(LumoBitmapInfoHeader, biClrUsed) == 32);

static_assert(offsetof(DibHandle, hBitmap) == 0);
static_assert(offsetof(DibHandle, hDib) == 8);
static_assert(offsetof(DibHandle, lpbi) == 16);
static_assert(offsetof(DibHandle, lpBits) == 24);
static_assert(offsetof(DibHandle, nStride) == 32);
static_assert(offsetof(DibHandle, nHeight) == 36);
static_assert(offsetof(DibHandle, nWidth) == 40);
static_assert(sizeof(DibHandle) == 48);

static_assert(offsetof(CaptureArea, hWnd) == 0);
static_assert(offsetof(CaptureArea, x) == 8);
static_assert(offsetof(CaptureArea, y) == 12);
static_assert(offsetof(CaptureArea, cx) == 16);
static_assert(offsetof(CaptureArea, cy) == 20);
static_assert(offsetof(CaptureArea, nFitX) == 24);
static_assert(offsetof(CaptureArea, nFitY) == 28);
static_assert(offsetof(CaptureArea, fClient) == 32);
static_assert(offsetof(CaptureArea, nMarginLeft) == 36);
static_assert(offsetof(CaptureArea, nMarginRight) == 40);
static_assert(offsetof(CaptureArea, nMarginTop) == 44);
static_assert(offsetof(CaptureArea, nMarginBottom) == 48);

static_assert(offsetof(BinCondition, bMode) == 0);
static_assert(offsetof(BinCondition, fAutoThreshfold) == 4);
static_assert(offsetof(BinCondition, bThreshfold) == 8);
static_assert(offsetof(BinCondition, bThreshfoldMin) == 9);
static_assert(offsetof(BinCondition, bThreshfoldMax) == 10);
static_assert(offsetof(BinCondition, dwPixelCount) == 12);
static_assert(offsetof(BinCondition, dwPeakCount) == 16);
static_assert(offsetof(BinCondition, adwHistogram) == 20);
static_assert(sizeof(BinCondition) == 1044);

static_assert(offsetof(ScanContext, dib) == 0);
static_assert(offsetof(ScanContext, lpCondition) == 48);
static_assert(offsetof(ScanContext, nOriginX) == 56);
static_assert(offsetof(ScanContext, nLimitX) == 60);
static_assert(offsetof(ScanContext, nOriginY) == 64);
static_assert(offsetof(ScanContext, nLimitY) == 68);
static_assert(offsetof(ScanContext, nCellWidth) == 72);
static_assert(offsetof(ScanContext, nCellHeight) == 76);
static_assert(offsetof(ScanContext, nCellX) == 80);
static_assert(offsetof(ScanContext, nCellY) == 84);
static_assert(offsetof(ScanContext, nHistLeft) == 88);
static_assert(offsetof(ScanContext, nHistRight) == 92);
static_assert(offsetof(ScanContext, nHistTop) == 96);
static_assert(offsetof(ScanContext, nHistBottom) == 100);
static_assert(offsetof(ScanContext, nLineThickness) == 104);
static_assert(offsetof(ScanContext, nHLineLength) == 108);
static_assert(offsetof(ScanContext, nVLineLength) == 112);
static_assert(offsetof(ScanContext, nDepthLimit) == 116);
static_assert(sizeof(ScanContext) == 168);

static_assert(offsetof(DotPanel, nStride) == 0);
static_assert(offsetof(DotPanel, nSize) == 4);
static_assert(offsetof(DotPanel, lpData) == 8);
static_assert(offsetof(DotPanel, nWidth) == 16);
static_assert(offsetof(DotPanel, nHeight) == 20);
static_assert(sizeof(DotPanel) == 24);

static_assert(offsetof(DotMap, nAllocWidth) == 0);
static_assert(offsetof(DotMap, nAllocHeight) == 4);
static_assert(offsetof(DotMap, lpData) == 8);
static_assert(offsetof(DotMap, nWidth) == 16);
static_assert(offsetof(DotMap, nHeight) == 20);
static_assert(sizeof(DotMap) == 24);

static_assert(offsetof(DotOpRequest, lpMap) == 0);
static_assert(offsetof(DotOpRequest, nMapX) == 8);
static_assert(offsetof(DotOpRequest, nMapY) == 12);
static_assert(offsetof(DotOpRequest, nWidth) == 16);
static_assert(offsetof(DotOpRequest, nHeight) == 20);
static_assert(offsetof(DotOpRequest, nPanelX) == 24);
static_assert(offsetof(DotOpRequest, nPanelY) == 28);
static_assert(offsetof(DotOpRequest, bOperation) == 32);
