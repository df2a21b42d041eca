#include "download/ui/CopyAnimation.h"

#include <cmath>

#include <QPainter>
#include <QPainterPath>

namespace dl {

namespace {

// The scene is drawn centred in the widget.
constexpr qreal kSceneWidth = 272;
constexpr qreal kFolderWidth = 46;
constexpr qreal kFolderHeight = 30;
constexpr qreal kSheetWidth = 15;
constexpr qreal kSheetHeight = 19;

const QColor kFolderFace(0xF2, 0xC9, 0x4C);
const QColor kFolderBack(0xD9, 0xA8, 0x2E);
const QColor kFolderLine(0x8A, 0x66, 0x14);
const QColor kSheetLine(0x60, 0x60, 0x60);
const QColor kSheetText(0x9A, 0xA8, 0xC0);

}  // namespace

CopyAnimation::CopyAnimation(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(kFrameMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % kFrameCount;
        update();
    });
}

void CopyAnimation::play() {
    if (playing()) return;
    frame_ = 0;
    timer_.start();
    update();
}

void CopyAnimation::stop() {
    timer_.stop();
    update();
}

void CopyAnimation::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate((width() - kSceneWidth) / 2, 0);
    const qreal folderTop = height() - kFolderHeight - 4;
    paintFolder(painter, QPointF(24, folderTop), false);
    paintFolder(painter, QPointF(kSceneWidth - 24 - kFolderWidth, folderTop), true);
    if (playing()) paintSheet(painter, frame_);
}

void CopyAnimation::paintFolder(QPainter& painter, QPointF at, bool receiving) const {
    const qreal x = at.x(), y = at.y();
    // Back with its tab.
    QPainterPath back;
    back.moveTo(x, y + 4);
    back.lineTo(x, y + kFolderHeight);
    back.lineTo(x + kFolderWidth, y + kFolderHeight);
    back.lineTo(x + kFolderWidth, y + 4);
    back.lineTo(x + 20, y + 4);
    back.lineTo(x + 16, y);
    back.lineTo(x + 3, y);
    back.closeSubpath();
    painter.setPen(QPen(kFolderLine, 1));
    painter.setBrush(kFolderBack);
    painter.drawPath(back);
    // The open front, leaning towards the other folder.
    const qreal lean = receiving ? -4 : 4;
    QPainterPath front;
    front.moveTo(x, y + kFolderHeight);
    front.lineTo(x + kFolderWidth, y + kFolderHeight);
    front.lineTo(x + kFolderWidth + lean, y + 11);
    front.lineTo(x + lean, y + 11);
    front.closeSubpath();
    painter.setBrush(kFolderFace);
    painter.drawPath(front);
}

void CopyAnimation::paintSheet(QPainter& painter, int frame) const {
    // Along an arc from the left folder's mouth to the right one's.
    const qreal t = static_cast<qreal>(frame) / (kFrameCount - 1);
    const qreal startX = 24 + kFolderWidth / 2, endX = kSceneWidth - 24 - kFolderWidth / 2;
    const qreal mouth = height() - kFolderHeight + 4;
    const qreal x = startX + (endX - startX) * t;
    const qreal y = mouth - (mouth - 4) * std::sin(M_PI * t);
    painter.save();
    painter.translate(x, y);
    painter.rotate(-25 + 50 * t);
    const QRectF sheet(-kSheetWidth / 2, -kSheetHeight / 2, kSheetWidth, kSheetHeight);
    painter.setPen(QPen(kSheetLine, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(sheet);
    painter.setPen(QPen(kSheetText, 1));
    for (int line = 0; line < 4; ++line) {
        const qreal ly = sheet.top() + 4 + line * 3.5;
        painter.drawLine(QPointF(sheet.left() + 3, ly), QPointF(sheet.right() - (line == 3 ? 6 : 3), ly));
    }
    painter.restore();
}

}  // namespace dl
