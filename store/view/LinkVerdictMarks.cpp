#include "store/view/LinkVerdictMarks.h"

#include <array>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace store {
namespace {

// As large as the style's small icons, which the cells make room for; the
// mark itself keeps clear of the row's lines.
constexpr int kSize = 16;

QIcon draw(LinkVerdictKind kind) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = kSize;
    auto pen = [](const QColor& color, qreal width) {
        QPen result(color, width);
        result.setCapStyle(Qt::RoundCap);
        result.setJoinStyle(Qt::RoundJoin);
        return result;
    };
    switch (kind) {
    case LinkVerdictKind::Audio: {
        p.setPen(pen(QColor(0x10, 0x90, 0x30), 2.2));
        QPainterPath tick;
        tick.moveTo(s * 0.22, s * 0.52);
        tick.lineTo(s * 0.42, s * 0.72);
        tick.lineTo(s * 0.80, s * 0.28);
        p.drawPath(tick);
        break;
    }
    case LinkVerdictKind::Dead:
        p.setPen(pen(QColor(0xC0, 0x20, 0x20), 2.2));
        p.drawLine(QPointF(s * 0.26, s * 0.26), QPointF(s * 0.74, s * 0.74));
        p.drawLine(QPointF(s * 0.74, s * 0.26), QPointF(s * 0.26, s * 0.74));
        break;
    case LinkVerdictKind::NotAudio:
        p.setPen(pen(QColor(0xD0, 0x70, 0x00), 2.4));
        p.drawLine(QPointF(s * 0.5, s * 0.18), QPointF(s * 0.5, s * 0.58));
        p.drawPoint(QPointF(s * 0.5, s * 0.80));
        break;
    case LinkVerdictKind::Unavailable: {
        p.setPen(pen(QColor(0x70, 0x70, 0x70), 2.0));
        QPainterPath wave;
        wave.moveTo(s * 0.18, s * 0.58);
        wave.cubicTo(s * 0.34, s * 0.28, s * 0.50, s * 0.40, s * 0.50, s * 0.50);
        wave.cubicTo(s * 0.50, s * 0.60, s * 0.66, s * 0.72, s * 0.82, s * 0.42);
        p.drawPath(wave);
        break;
    }
    }
    return QIcon(pixmap);
}

}  // namespace

QIcon verdictMark(LinkVerdictKind kind) {
    static const std::array<QIcon, 4> marks = {draw(LinkVerdictKind::Audio), draw(LinkVerdictKind::NotAudio),
                                               draw(LinkVerdictKind::Dead), draw(LinkVerdictKind::Unavailable)};
    return marks[static_cast<std::size_t>(kind)];
}

bool greysOut(LinkVerdictKind kind) { return kind == LinkVerdictKind::Dead || kind == LinkVerdictKind::NotAudio; }

QColor greyedText() { return QColor(0x80, 0x80, 0x80); }

}  // namespace store
