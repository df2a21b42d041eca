#include "download/ui/CaptionBar.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace dl {

CaptionBar::CaptionBar(QWidget* window) : QWidget(window) {
    setObjectName(QStringLiteral("CaptionBar"));
    setFixedHeight(kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

namespace {

QFont captionFont(const QWidget& window) {
    QFont font = window.font();
    font.setBold(true);
    return font;
}

QRect textRoom(const QRect& bar) { return bar.adjusted(6, 0, -6, -1); }

}  // namespace

QString CaptionBar::shownText() const {
    // Long captions (a batch names its song) lose their middle, not the count.
    return QFontMetrics(captionFont(*window()))
        .elidedText(window()->windowTitle(), Qt::ElideMiddle, textRoom(rect()).width());
}

void CaptionBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool active = window()->isActiveWindow();
    const QPalette& colours = palette();
    // The look of a title bar: the selection colour while the window is
    // active, the button face while it is not, each a band lighter above.
    const QColor face = active ? colours.color(QPalette::Active, QPalette::Highlight)
                               : colours.color(QPalette::Active, QPalette::Button);
    QLinearGradient band(rect().topLeft(), rect().bottomLeft());
    band.setColorAt(0, face.lighter(active ? 135 : 106));
    band.setColorAt(1, face);
    painter.fillRect(rect(), band);
    painter.setPen(face.darker(125));
    painter.drawLine(rect().bottomLeft(), rect().bottomRight());

    painter.setFont(captionFont(*window()));
    painter.setPen(active ? colours.color(QPalette::Active, QPalette::HighlightedText)
                          : colours.color(QPalette::Disabled, QPalette::WindowText));
    painter.drawText(textRoom(rect()), Qt::AlignCenter | Qt::TextSingleLine, shownText());
}

void CaptionBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    event->accept();
    // The window manager moves it, as it would by its own title bar.
    if (QWindow* handle = window()->windowHandle(); handle && handle->startSystemMove()) return;
    dragging_ = true;
    grabbedAt_ = event->globalPosition().toPoint();
    windowAt_ = window()->pos();
}

void CaptionBar::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return QWidget::mouseMoveEvent(event);
    event->accept();
    window()->move(windowAt_ + event->globalPosition().toPoint() - grabbedAt_);
}

void CaptionBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

}  // namespace dl
