// The bitmap viewer's printed page (see print_page.h).
#include "bitmapviewer/ui/print_page.h"

#include <QPainter>
#include <QPrinter>

#include <algorithm>

namespace bitora::ui {

QImage toImage(const LumoBitmap& b) {
    if (b.nWidth < 1 || b.nHeight < 1 || !b.lpPixels) return {};
    // The library's pixels are 0x00RRGGBB rows, top-down: a 32-bit RGB image as they are.
    return QImage(reinterpret_cast<const uchar*>(b.lpPixels), b.nWidth, b.nHeight,
                  static_cast<qsizetype>(b.nWidth) * 4, QImage::Format_RGB32)
        .copy();
}

double fitFactor(int areaWidth, int areaHeight, int w, int h) {
    if (w < 1 || h < 1 || areaWidth < 1 || areaHeight < 1) return 0;
    return std::min(static_cast<double>(areaWidth) / w, static_cast<double>(areaHeight) / h);
}

PrintStep printImage(QPrinter& printer, const QImage& image, const std::function<bool()>& keepGoing) {
    if (image.isNull()) return PrintStep::Stretch;
    QPainter painter;
    if (!painter.begin(&printer)) return PrintStep::StartDoc;
    if (!keepGoing()) {
        painter.end();
        return PrintStep::StartPage;
    }
    // The painter's origin is the top-left margin corner; the area is the printable one.
    const QRect area = printer.pageLayout().paintRectPixels(printer.resolution());
    const double f = fitFactor(area.width(), area.height(), image.width(), image.height());
    if (f <= 0) {
        painter.end();
        return PrintStep::Stretch;
    }
    painter.drawImage(QRectF(0, 0, image.width() * f, image.height() * f), image);
    if (!painter.end()) return PrintStep::EndDoc;
    return PrintStep::Done;
}

}  // namespace bitora::ui
