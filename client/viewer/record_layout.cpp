// Compile-time checks of the viewer record's fixed byte layout (x86-64): the
// application and the library must agree on every offset.
#include <cstddef>

#include "client/viewer/bitmap_viewer.h"

namespace {
using R = BitmapViewerRecord;
static_assert(sizeof(ConditionMemo) == 16);
static_assert(offsetof(ConditionMemo, valid) == 0);
static_assert(offsetof(ConditionMemo, fAutoThreshfold) == 4);
static_assert(offsetof(ConditionMemo, bThreshfold) == 8);
static_assert(offsetof(ConditionMemo, bThreshfoldMin) == 9);
static_assert(offsetof(ConditionMemo, bThreshfoldMax) == 10);
static_assert(offsetof(ConditionMemo, bMode) == 12);

static_assert(offsetof(R, hSourceBitmap) == 0);
static_assert(offsetof(R, scan) == 8);
static_assert(sizeof(ScanContext) == 168);
static_assert(offsetof(R, scan) + offsetof(ScanContext, dib) + offsetof(DibHandle, hBitmap) == 8);
static_assert(offsetof(R, scan) + offsetof(ScanContext, dib) + offsetof(DibHandle, nHeight) == 44);
static_assert(offsetof(R, scan) + offsetof(ScanContext, dib) + offsetof(DibHandle, nWidth) == 48);
static_assert(offsetof(R, scan) + offsetof(ScanContext, lpCondition) == 56);
static_assert(offsetof(R, scan) + offsetof(ScanContext, nOriginX) == 64);
static_assert(offsetof(R, scan) + offsetof(ScanContext, nLimitX) == 68);
static_assert(offsetof(R, scan) + offsetof(ScanContext, nOriginY) == 72);
static_assert(offsetof(R, scan) + offsetof(ScanContext, nLimitY) == 76);
static_assert(offsetof(R, scan) + offsetof(ScanContext, nCellWidth) == 80);
static_assert(offsetof(R, scan) + offsetof(ScanContext, nCellHeight) == 84);
static_assert(offsetof(R, scan) + offsetof(ScanContext, nHistLeft) == 96);
static_assert(offsetof(R, scan) + offsetof(ScanContext, nHistBottom) == 108);
static_assert(offsetof(R, scan) + offsetof(ScanContext, nLineThickness) == 112);
static_assert(offsetof(R, scan) + offsetof(ScanContext, anReserved) + 6 * sizeof(int32_t) == 152);
static_assert(offsetof(R, imageWidth) == 176);
static_assert(offsetof(R, imageHeight) == 180);
static_assert(offsetof(R, viewTop) == 184);
static_assert(offsetof(R, viewLeft) == 188);
static_assert(offsetof(R, cellHeight) == 192);
static_assert(offsetof(R, cellWidth) == 196);
static_assert(offsetof(R, condition) == 200);
static_assert(offsetof(R, condition) + offsetof(BinCondition, fAutoThreshfold) == 204);
static_assert(offsetof(R, condition) + offsetof(BinCondition, bThreshfold) == 208);
static_assert(offsetof(R, condition) + offsetof(BinCondition, bThreshfoldMin) == 209);
static_assert(offsetof(R, condition) + offsetof(BinCondition, bThreshfoldMax) == 210);
static_assert(offsetof(R, condition) + offsetof(BinCondition, dwPixelCount) == 212);
static_assert(offsetof(R, condition) + offsetof(BinCondition, dwPeakCount) == 216);
static_assert(offsetof(R, condition) + offsetof(BinCondition, adwHistogram) == 220);
static_assert(offsetof(R, overviewMode) == 1244);
static_assert(offsetof(R, overviewFrame) == 1248);
static_assert(offsetof(R, detailLeft) == 1252);
static_assert(offsetof(R, detailTop) == 1256);
static_assert(offsetof(R, detailCellWidth) == 1260);
static_assert(offsetof(R, detailCellHeight) == 1264);
static_assert(offsetof(R, pointerMode) == 1268);
static_assert(offsetof(R, pointerX) == 1272);
static_assert(offsetof(R, pointerY) == 1276);
static_assert(offsetof(R, pointerButtons) == 1280);
static_assert(offsetof(R, mouseCallback) == 1288);
static_assert(offsetof(R, savedFlag) == 1296);
static_assert(offsetof(R, savedView) == 1300);
static_assert(offsetof(R, savedCondition) == 1316);
static_assert(offsetof(R, refreshed) == 1332);
static_assert(offsetof(R, conditionMemos) == 1336);
static_assert(offsetof(R, scanParams) == 1400);
static_assert(offsetof(R, keyHook) == 1440);
static_assert(sizeof(R) == 1448);
}  // namespace
