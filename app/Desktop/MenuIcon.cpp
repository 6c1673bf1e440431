#include "app/Desktop/MenuIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace {

constexpr double width = 18, height = 15, gap = 1.4, radius = 1.0;
constexpr int columns = 4;

} // namespace

QImage MenuIcon::image(const QColor& colour, int scale) {
    QImage canvas(int(width) * scale, int(width) * scale, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    painter.translate(0, (width - height) / 2);
    const double cellWidth = (width - (columns - 1) * gap) / columns;
    const double cellHeight = (height - (columns - 1) * gap) / columns;
    QPainterPath cells;
    for (int column = 0; column < columns; ++column)
        for (int row = 0; row <= column; ++row) {
            // Row 0 is the bottom one.
            const double top = height - (cellHeight + gap) * row - cellHeight;
            cells.addRoundedRect(QRectF((cellWidth + gap) * column, top, cellWidth, cellHeight), radius, radius);
        }
    painter.fillPath(cells, colour);
    return canvas;
}

QIcon MenuIcon::make(const QColor& colour) {
    QIcon icon;
    for (int scale : {1, 2, 3, 4}) icon.addPixmap(QPixmap::fromImage(image(colour, scale)));
    return icon;
}
