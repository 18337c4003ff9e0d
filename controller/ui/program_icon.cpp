// The controller's drawn icon.
#include "controller/ui/program_icon.h"

#include <QPainter>
#include <QPixmap>

namespace tavik::controller::ui {

namespace {

// A dark tablet with a 4 x 3 field of pins, some of them raised.
QPixmap drawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal margin = size / 16.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x30, 0x38, 0x48));
    p.drawRoundedRect(QRectF(margin, margin * 3, size - 2 * margin, size - 6 * margin), size / 8.0, size / 8.0);
    constexpr int kCols = 4, kRows = 3;
    constexpr bool kRaised[kRows][kCols] = {{true, false, true, true}, {true, true, false, true}, {false, true, true, false}};
    const qreal cellW = (size - 4 * margin) / kCols;
    const qreal cellH = (size - 8 * margin) / kRows;
    const qreal radius = std::min(cellW, cellH) * 0.3;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kCols; ++c) {
            p.setBrush(kRaised[r][c] ? QColor(0xF4, 0xF4, 0xF0) : QColor(0x58, 0x60, 0x70));
            p.drawEllipse(QPointF(2 * margin + (c + 0.5) * cellW, 4 * margin + (r + 0.5) * cellH), radius, radius);
        }
    return pixmap;
}

}  // namespace

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) icon.addPixmap(drawIcon(size));
    return icon;
}

}  // namespace tavik::controller::ui
