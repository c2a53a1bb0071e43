#include "ui/TestIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <functional>

namespace {

// A picture of size by size pixels with smooth edges, drawn on nothing, so the
// panel behind it shows through.
QPixmap Drawn(int size, const std::function<void(QPainter&)>& draw) {
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    return picture;
}

QPen Stroke(const QColor& color, qreal width) {
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

} // namespace

QPixmap PassedPicture() {
    return Drawn(16, [](QPainter& painter) {
        painter.setPen(Stroke(QColor(0, 150, 40), 2.4));
        QPainterPath tick;
        tick.moveTo(3.0, 8.5);
        tick.lineTo(6.5, 12.0);
        tick.lineTo(13.0, 4.0);
        painter.drawPath(tick);
    });
}

QPixmap FailedPicture() {
    return Drawn(16, [](QPainter& painter) {
        painter.setPen(Stroke(QColor(210, 20, 20), 2.4));
        painter.drawLine(QPointF(4.0, 4.0), QPointF(12.0, 12.0));
        painter.drawLine(QPointF(12.0, 4.0), QPointF(4.0, 12.0));
    });
}

QPixmap NotDonePicture() {
    return Drawn(14, [](QPainter& painter) {
        painter.setPen(Stroke(Qt::black, 1.8));
        QPainterPath hook;
        hook.moveTo(4.0, 4.5);
        hook.cubicTo(4.0, 1.5, 10.0, 1.5, 10.0, 4.5);
        hook.cubicTo(10.0, 6.5, 7.0, 6.5, 7.0, 9.0);
        painter.drawPath(hook);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawEllipse(QPointF(7.0, 11.8), 1.1, 1.1);
    });
}

QPixmap ReportPicture() {
    return Drawn(32, [](QPainter& painter) {
        painter.setPen(QPen(QColor(60, 60, 60), 1.5));
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(6.5, 3.5, 19, 25));
        painter.setPen(QPen(QColor(40, 90, 170), 1.5));
        for (int line = 0; line < 5; ++line) {
            painter.drawLine(QPointF(10, 9 + 4 * line), QPointF(22, 9 + 4 * line));
        }
    });
}
