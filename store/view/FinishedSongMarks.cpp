#include "store/view/FinishedSongMarks.h"

#include <QDir>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "store/view/LinkVerdictText.h"

namespace store {
namespace {

// As large as the verdicts' marks, which the cells make room for.
constexpr int kSize = 16;

QIcon draw(bool kept) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = kSize;
    const QColor colour = kept ? QColor(0x20, 0x60, 0xD0) : QColor(0x90, 0x90, 0x90);
    QPen pen(colour, 2.0);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    // The arrow down into the tray.
    p.drawLine(QPointF(s * 0.5, s * 0.14), QPointF(s * 0.5, s * 0.60));
    QPainterPath head;
    head.moveTo(s * 0.30, s * 0.42);
    head.lineTo(s * 0.5, s * 0.62);
    head.lineTo(s * 0.70, s * 0.42);
    p.drawPath(head);
    QPainterPath tray;
    tray.moveTo(s * 0.16, s * 0.66);
    tray.lineTo(s * 0.16, s * 0.84);
    tray.lineTo(s * 0.84, s * 0.84);
    tray.lineTo(s * 0.84, s * 0.66);
    p.drawPath(tray);
    if (!kept) {
        QPen strike(QColor(0xC0, 0x20, 0x20), 1.8);
        strike.setCapStyle(Qt::RoundCap);
        p.setPen(strike);
        p.drawLine(QPointF(s * 0.14, s * 0.86), QPointF(s * 0.86, s * 0.14));
    }
    return QIcon(pixmap);
}

}  // namespace

QIcon finishedMark(FinishedFileState state) {
    static const QIcon kept = draw(true);
    static const QIcon gone = draw(false);
    return state == FinishedFileState::Kept ? kept : gone;
}

QString finishedDetails(const FinishedMark& mark, const QString& workingDir) {
    const QString path = QString::fromStdString(mark.path);
    const QString base = QDir::cleanPath(workingDir) + QLatin1Char('/');
    const QString shown = path.startsWith(base) ? path.mid(base.size()) : path;
    switch (mark.state) {
    case FinishedFileState::Kept:
        return QStringLiteral("已下载：") + shown + QStringLiteral("（") + linkSize(mark.size) + QStringLiteral("）");
    case FinishedFileState::Gone: return QStringLiteral("文件已删除：") + shown;
    case FinishedFileState::Replaced:
        return QStringLiteral("文件已删除：") + shown + QStringLiteral("（那里现在是另一个文件）");
    }
    return {};
}

}  // namespace store
