// The cursor-shape view: the mouse pointer's picture on the pins instead of
// the screen, one pixel per pin from the picture's top-left corner. Pure: the
// picture comes in, an opened and pre-scanned DIB goes out.
#pragma once

#include "imaging/lumoutil.h"
#include "screenviewer/desktop_port.h"

namespace lumo {

// Pointer pictures are small; a side beyond this comes only from a broken source.
constexpr int32_t kMaxCursorSide = 512;

// Opens `cursor` in ctx.dib as the pointer shows over black (each colour
// channel held to the pixel's alpha, the alpha dropped) and pre-scans it under
// `cond` with one pixel per cell over the whole picture (origin 0, limits -1,
// histogram window the whole picture); then looks for white with
// lumoFindDot. ctx's other fields are set here (the pre-scan parameters of
// the refresh pass). Returns lumoPreScan's result. ctx.dib.hDib is null (and
// false returned) when the picture is empty, larger than kMaxCursorSide on a
// side, has a pixel count other than width x height, or memory runs out; the
// caller closes the DIB otherwise.
bool scanCursorPicture(const CursorPicture& cursor, BinCondition& cond, ScanContext& ctx);

}  // namespace lumo
