#include "app/Desktop/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <functional>

namespace {

using Symbol = Icons::Symbol;
constexpr int side = 16;

// The nearest names among the desktop icon themes' standard names.
const char* themeName(Symbol symbol) {
    switch (symbol) {
    case Symbol::clearFailed: return "edit-clear-all";
    case Symbol::cleanUp: return "edit-clear";
    case Symbol::set: return "view-split-left-right";
    case Symbol::still: return "image-x-generic";
    case Symbol::video: return "video-x-generic";
    case Symbol::stop: return "process-stop";
    case Symbol::tryAgain: return "view-refresh";
    case Symbol::remove: return "list-remove";
    case Symbol::trash: return "user-trash";
    case Symbol::up: return "go-up";
    case Symbol::down: return "go-down";
    case Symbol::removeItem: return "window-close";
    case Symbol::making: return "content-loading";
    case Symbol::separate: return "edit-copy";
    case Symbol::handle: return "open-menu";
    }
    return "";
}

QPainterPath cross(QPointF centre, double half) {
    QPainterPath path;
    path.moveTo(centre + QPointF(-half, -half));
    path.lineTo(centre + QPointF(half, half));
    path.moveTo(centre + QPointF(half, -half));
    path.lineTo(centre + QPointF(-half, half));
    return path;
}

QPainterPath bin() {
    QPainterPath path;
    path.moveTo(2.5, 4);
    path.lineTo(13.5, 4);
    path.moveTo(6, 4);
    path.lineTo(6.5, 2);
    path.lineTo(9.5, 2);
    path.lineTo(10, 4);
    path.moveTo(3.8, 4);
    path.lineTo(4.6, 14);
    path.lineTo(11.4, 14);
    path.lineTo(12.2, 4);
    return path;
}

QPainterPath chevron(bool up) {
    QPainterPath path;
    const double tip = up ? 5 : 11, ends = up ? 11 : 5;
    path.moveTo(3.5, ends);
    path.lineTo(8, tip);
    path.lineTo(12.5, ends);
    return path;
}

QPainterPath triangle(QPointF a, QPointF b, QPointF c) {
    QPainterPath path;
    path.addPolygon(QPolygonF({a, b, c}));
    path.closeSubpath();
    return path;
}

QPainterPath star(QPointF centre, double radius) {
    QPainterPath path;
    const double waist = radius * 0.28;
    path.moveTo(centre.x(), centre.y() - radius);
    path.quadTo(centre.x() + waist, centre.y() - waist, centre.x() + radius, centre.y());
    path.quadTo(centre.x() + waist, centre.y() + waist, centre.x(), centre.y() + radius);
    path.quadTo(centre.x() - waist, centre.y() + waist, centre.x() - radius, centre.y());
    path.quadTo(centre.x() - waist, centre.y() - waist, centre.x(), centre.y() - radius);
    return path;
}

// Each symbol on a 16 × 16 grid, in lines of 1.4 and fills of the one colour.
void draw(QPainter& painter, Symbol symbol, const QColor& colour) {
    const QPen line(colour, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(line);
    painter.setBrush(Qt::NoBrush);
    const QRectF frame(1.5, 3.5, 13, 9);
    switch (symbol) {
    case Symbol::clearFailed:
        painter.drawPath(bin());
        painter.drawPath(cross({8, 9}, 2));
        break;
    case Symbol::cleanUp:
        painter.fillPath(star({6.5, 9}, 5.5), colour);
        painter.fillPath(star({12.5, 3.5}, 2.8), colour);
        break;
    case Symbol::set:
        painter.drawRoundedRect(frame, 1.5, 1.5);
        painter.drawLine(QPointF(5.8, 3.5), QPointF(5.8, 12.5));
        painter.drawLine(QPointF(10.2, 3.5), QPointF(10.2, 12.5));
        break;
    case Symbol::still: {
        painter.drawRoundedRect(frame, 1.5, 1.5);
        QPainterPath hills;
        hills.moveTo(2.5, 11.5);
        hills.lineTo(6.5, 7.5);
        hills.lineTo(9, 10);
        hills.lineTo(10.5, 8.5);
        hills.lineTo(13.5, 11.5);
        hills.closeSubpath();
        painter.fillPath(hills, colour);
        painter.setBrush(colour);
        painter.drawEllipse(QPointF(11, 6), 1, 1);
        break;
    }
    case Symbol::video:
        painter.drawRoundedRect(QRectF(2.5, 1.5, 11, 13), 1.5, 1.5);
        painter.drawLine(QPointF(5, 1.5), QPointF(5, 14.5));
        painter.drawLine(QPointF(11, 1.5), QPointF(11, 14.5));
        for (double y : {4.5, 8.0, 11.5}) {
            painter.drawPoint(QPointF(3.7, y));
            painter.drawPoint(QPointF(12.3, y));
        }
        break;
    case Symbol::stop: {
        QPainterPath disc;
        disc.addEllipse(QPointF(8, 8), 6.8, 6.8);
        QPainterPathStroker stroker(QPen(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.fillPath(disc.subtracted(stroker.createStroke(cross({8, 8}, 2.6))), colour);
        break;
    }
    case Symbol::tryAgain: {
        QPainterPath arc;
        arc.arcMoveTo(QRectF(2.5, 2.5, 11, 11), 70);
        arc.arcTo(QRectF(2.5, 2.5, 11, 11), 70, 290);
        painter.drawPath(arc);
        painter.fillPath(triangle({9.2, 0.6}, {12.4, 3.2}, {8.6, 5.2}), colour);
        break;
    }
    case Symbol::remove:
        painter.drawEllipse(QPointF(8, 8), 6.3, 6.3);
        painter.drawLine(QPointF(5, 8), QPointF(11, 8));
        break;
    case Symbol::trash:
        painter.drawPath(bin());
        painter.drawLine(QPointF(6.8, 6.5), QPointF(7, 11.5));
        painter.drawLine(QPointF(9.2, 6.5), QPointF(9, 11.5));
        break;
    case Symbol::up:
    case Symbol::down:
        painter.drawPath(chevron(symbol == Symbol::up));
        break;
    case Symbol::removeItem:
        painter.drawPath(cross({8, 8}, 4));
        break;
    case Symbol::making: {
        painter.drawLine(QPointF(3.5, 1.8), QPointF(12.5, 1.8));
        painter.drawLine(QPointF(3.5, 14.2), QPointF(12.5, 14.2));
        QPainterPath glass; // each side bows in to the waist at the middle
        for (double side : {-1.0, 1.0}) {
            const double outer = 8 + side * 3.5, waist = 8 + side * 0.8;
            glass.moveTo(outer, 1.8);
            glass.cubicTo(outer, 6, waist, 6.5, waist, 8);
            glass.cubicTo(waist, 9.5, outer, 10, outer, 14.2);
        }
        painter.drawPath(glass);
        painter.fillPath(triangle({5.6, 13.2}, {8, 10.8}, {10.4, 13.2}), colour);
        break;
    }
    case Symbol::separate:
        painter.drawRoundedRect(QRectF(5, 5.5, 9.5, 9), 1.5, 1.5);
        painter.drawPolyline(QPolygonF({QPointF(3, 12), QPointF(1.5, 12), QPointF(1.5, 1.5), QPointF(11.5, 1.5),
                                        QPointF(11.5, 3)}));
        break;
    case Symbol::handle:
        for (double y : {4.5, 8.0, 11.5}) painter.drawLine(QPointF(2.5, y), QPointF(13.5, y));
        break;
    }
}

} // namespace

QIcon Icons::drawn(Symbol symbol, const QColor& colour) {
    QIcon icon;
    for (int scale : {1, 2, 3}) {
        QPixmap canvas(side * scale, side * scale);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        draw(painter, symbol, colour);
        painter.end();
        icon.addPixmap(canvas);
    }
    return icon;
}

QIcon Icons::icon(Symbol symbol, const QColor& colour) {
    QIcon themed = QIcon::fromTheme(themeName(symbol));
    return themed.isNull() ? drawn(symbol, colour) : themed;
}
