#include "app/Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace app {

QIcon glyphIcon(Glyph glyph, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    auto pen = [&](const QColor& color, qreal width) {
        QPen result(color, width * s / 24.0);
        result.setCapStyle(Qt::RoundCap);
        result.setJoinStyle(Qt::RoundJoin);
        return result;
    };
    switch (glyph) {
    case Glyph::Search:
        p.setPen(pen(QColor(0x20, 0x50, 0xA0), 2.5));
        p.setBrush(QColor(0xD0, 0xE8, 0xFF));
        p.drawEllipse(QRectF(s * 0.12, s * 0.12, s * 0.5, s * 0.5));
        p.setPen(pen(QColor(0x60, 0x40, 0x20), 3.5));
        p.drawLine(QPointF(s * 0.56, s * 0.56), QPointF(s * 0.86, s * 0.86));
        break;
    case Glyph::Stop:
        p.setPen(pen(QColor(0x80, 0x00, 0x00), 1.5));
        p.setBrush(QColor(0xD0, 0x20, 0x20));
        p.drawRoundedRect(QRectF(s * 0.18, s * 0.18, s * 0.64, s * 0.64), s * 0.08, s * 0.08);
        break;
    case Glyph::Clear:
        p.setPen(pen(QColor(0xC0, 0x30, 0x10), 3.5));
        p.drawLine(QPointF(s * 0.22, s * 0.22), QPointF(s * 0.78, s * 0.78));
        p.drawLine(QPointF(s * 0.78, s * 0.22), QPointF(s * 0.22, s * 0.78));
        break;
    case Glyph::Refresh: {
        p.setPen(pen(QColor(0x10, 0x80, 0x30), 3.0));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(s * 0.18, s * 0.18, s * 0.64, s * 0.64), 60 * 16, 280 * 16);
        QPainterPath head;
        head.moveTo(s * 0.62, s * 0.08);
        head.lineTo(s * 0.86, s * 0.24);
        head.lineTo(s * 0.60, s * 0.36);
        head.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x10, 0x80, 0x30));
        p.drawPath(head);
        break;
    }
    case Glyph::Instructions:
        p.setPen(pen(QColor(0x20, 0x40, 0x90), 1.5));
        p.setBrush(QColor(0x30, 0x60, 0xC0));
        p.drawEllipse(QRectF(s * 0.1, s * 0.1, s * 0.8, s * 0.8));
        p.setPen(pen(Qt::white, 3.0));
        p.drawPoint(QPointF(s * 0.5, s * 0.3));
        p.drawLine(QPointF(s * 0.5, s * 0.46), QPointF(s * 0.5, s * 0.72));
        break;
    case Glyph::Exit:
        p.setPen(pen(QColor(0x50, 0x30, 0x10), 1.5));
        p.setBrush(QColor(0xB0, 0x80, 0x40));
        p.drawRect(QRectF(s * 0.14, s * 0.1, s * 0.44, s * 0.8));
        p.setPen(pen(QColor(0xC0, 0x20, 0x20), 3.0));
        p.drawLine(QPointF(s * 0.45, s * 0.5), QPointF(s * 0.9, s * 0.5));
        p.drawLine(QPointF(s * 0.76, s * 0.36), QPointF(s * 0.9, s * 0.5));
        p.drawLine(QPointF(s * 0.76, s * 0.64), QPointF(s * 0.9, s * 0.5));
        break;
    }
    return QIcon(pixmap);
}

}  // namespace app
