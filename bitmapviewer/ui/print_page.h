// The bitmap viewer's printed page: the picture copied out of the image
// library's bitmap and drawn at the top-left margin corner, scaled by the one
// factor that fits it into the printable area both ways.
#pragma once

#include <QImage>

#include <functional>

#include "imaging/lumoutil.h"

class QPrinter;

namespace bitora::ui {

// A copy of the library's bitmap that owns its pixels (a null image for an empty bitmap).
QImage toImage(const LumoBitmap& bitmap);

// Where printing stopped: Done, or the step that failed (its message key).
enum class PrintStep { Done, StartDoc, StartPage, Stretch, EndDoc };

// The factor that fits w x h pixels into `area` (printer pixels); 0 when nothing fits.
double fitFactor(int areaWidth, int areaHeight, int w, int h);

// Prints `image` on one page of `printer` under its document name. `keepGoing`
// runs between the steps (the caller lets its events run there) and returns
// false when the user cancelled. Blocks until the page is written.
PrintStep printImage(QPrinter& printer, const QImage& image, const std::function<bool()>& keepGoing);

}  // namespace bitora::ui
