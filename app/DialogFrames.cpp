#include "app/DialogFrames.h"

#include <QDialog>
#include <QEvent>
#include <QHash>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QAbstractButton>
#include <QWindow>

#include "download/ui/CaptionBar.h"

namespace app {
namespace {

constexpr int kBorder = DialogFrames::kBorder;
constexpr int kCaptionHeight = dl::CaptionBar::kHeight;
// How far from a corner a press on the border resizes both ways.
constexpr int kCornerReach = 12;
// Set on a dialog once it has its own frame.
const char* const kFramed = "brelvoOwnFrame";

bool resizable(const QWidget& window) { return window.minimumSize() != window.maximumSize(); }

// One side of the border: a dark line on the window's edge over the
// window's face. Pressed, it resizes a dialog that can be resized, through
// the window manager.
class FrameEdge : public QWidget {
public:
    FrameEdge(QWidget& window, Qt::Edge side) : QWidget(&window), side_(side) {
        setObjectName(QStringLiteral("FrameEdge"));
        setMouseTracking(true);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Active, QPalette::Shadow));
        const QRect r = rect();
        switch (side_) {
        case Qt::TopEdge:
            painter.drawLine(r.topLeft(), r.topRight());
            painter.drawLine(r.topLeft(), r.bottomLeft());
            painter.drawLine(r.topRight(), r.bottomRight());
            break;
        case Qt::BottomEdge:
            painter.drawLine(r.bottomLeft(), r.bottomRight());
            painter.drawLine(r.topLeft(), r.bottomLeft());
            painter.drawLine(r.topRight(), r.bottomRight());
            break;
        case Qt::LeftEdge: painter.drawLine(r.topLeft(), r.bottomLeft()); break;
        case Qt::RightEdge: painter.drawLine(r.topRight(), r.bottomRight()); break;
        }
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!resizable(*window())) {
            unsetCursor();
            return;
        }
        static const QHash<int, Qt::CursorShape> shapes = {
            {Qt::TopEdge, Qt::SizeVerCursor},
            {Qt::BottomEdge, Qt::SizeVerCursor},
            {Qt::LeftEdge, Qt::SizeHorCursor},
            {Qt::RightEdge, Qt::SizeHorCursor},
            {Qt::TopEdge | Qt::LeftEdge, Qt::SizeFDiagCursor},
            {Qt::BottomEdge | Qt::RightEdge, Qt::SizeFDiagCursor},
            {Qt::TopEdge | Qt::RightEdge, Qt::SizeBDiagCursor},
            {Qt::BottomEdge | Qt::LeftEdge, Qt::SizeBDiagCursor},
        };
        setCursor(shapes.value(static_cast<int>(edgesAt(event->position().toPoint())), Qt::ArrowCursor));
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton || !resizable(*window())) return QWidget::mousePressEvent(event);
        event->accept();
        if (QWindow* handle = window()->windowHandle()) handle->startSystemResize(edgesAt(event->position().toPoint()));
    }

private:
    // The strips along the top and the bottom also hold the corners.
    Qt::Edges edgesAt(const QPoint& at) const {
        Qt::Edges edges(side_);
        if (side_ == Qt::TopEdge || side_ == Qt::BottomEdge) {
            if (at.x() < kCornerReach) edges |= Qt::LeftEdge;
            if (at.x() >= width() - kCornerReach) edges |= Qt::RightEdge;
        }
        return edges;
    }

    Qt::Edge side_;
};

// The close box on the title bar: a small raised button with a dark cross,
// seen on the active and the inactive title bar alike.
class CloseBox : public QAbstractButton {
public:
    explicit CloseBox(QWidget* parent) : QAbstractButton(parent) {
        setObjectName(QStringLiteral("CloseBox"));
        setFocusPolicy(Qt::NoFocus);
        setToolTip(QStringLiteral("关闭"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QPalette& colours = palette();
        const QRect face = rect().adjusted(0, 0, -1, -1);
        painter.fillRect(face, colours.color(QPalette::Active, QPalette::Button));
        // Raised, or pressed in while held down.
        const QColor light = colours.color(QPalette::Active, QPalette::Light);
        const QColor dark = colours.color(QPalette::Active, QPalette::Shadow);
        painter.setPen(isDown() ? dark : light);
        painter.drawLine(face.topLeft(), face.topRight());
        painter.drawLine(face.topLeft(), face.bottomLeft());
        painter.setPen(isDown() ? light : dark);
        painter.drawLine(face.bottomLeft(), face.bottomRight());
        painter.drawLine(face.topRight(), face.bottomRight());
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(colours.color(QPalette::Active, QPalette::ButtonText), 1.6));
        const QRectF cross = QRectF(face).adjusted(4.5, 3.5, -4.5, -3.5).translated(isDown() ? 1 : 0, isDown() ? 1 : 0);
        painter.drawLine(cross.topLeft(), cross.bottomRight());
        painter.drawLine(cross.topRight(), cross.bottomLeft());
    }
};

// The frame's pieces on one dialog; kept in place as the dialog changes.
class OwnFrame : public QObject {
public:
    explicit OwnFrame(QDialog& dialog) : QObject(&dialog), dialog_(dialog) {
        setObjectName(QStringLiteral("OwnFrame"));
        caption_ = new dl::CaptionBar(&dialog);
        closeBox_ = new CloseBox(&dialog);
        closeBox_->hide();
        // Closing is the dialog's own cancel: a message box answers with its
        // escape button, any other dialog is rejected.
        connect(closeBox_, &QAbstractButton::clicked, &dialog, &QWidget::close);
        for (Qt::Edge side : {Qt::TopEdge, Qt::BottomEdge, Qt::LeftEdge, Qt::RightEdge})
            edges_[edgeIndex(side)] = new FrameEdge(dialog, side);
        dialog.installEventFilter(this);
        place();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &dialog_) return false;
        switch (event->type()) {
        case QEvent::Resize: place(); break;
        case QEvent::Show:
            closeBox_->setVisible(DialogFrames::canBeCancelled(dialog_));
            place();
            break;
        case QEvent::WindowTitleChange:
        case QEvent::ActivationChange: caption_->update(); break;
        default: break;
        }
        return false;
    }

private:
    static int edgeIndex(Qt::Edge side) {
        return side == Qt::TopEdge ? 0 : side == Qt::BottomEdge ? 1 : side == Qt::LeftEdge ? 2 : 3;
    }

    void place() {
        const int w = dialog_.width(), h = dialog_.height();
        caption_->setGeometry(kBorder, kBorder, w - 2 * kBorder, kCaptionHeight);
        closeBox_->setGeometry(w - kBorder - 20, kBorder + 3, 17, kCaptionHeight - 6);
        edges_[0]->setGeometry(0, 0, w, kBorder);
        edges_[1]->setGeometry(0, h - kBorder, w, kBorder);
        edges_[2]->setGeometry(0, kBorder, kBorder, h - 2 * kBorder);
        edges_[3]->setGeometry(w - kBorder, kBorder, kBorder, h - 2 * kBorder);
        caption_->raise();
        closeBox_->raise();
        for (QWidget* edge : edges_) edge->raise();
    }

    QDialog& dialog_;
    dl::CaptionBar* caption_ = nullptr;
    QAbstractButton* closeBox_ = nullptr;
    QWidget* edges_[4] = {};
};

// The button Escape presses in a message box, found as the box finds it:
// the one set, else Cancel, else the only button, else the only one that
// rejects or says no. None means the box cannot be cancelled.
const QAbstractButton* escapeButtonOf(const QMessageBox& box) {
    if (box.escapeButton()) return box.escapeButton();
    if (QAbstractButton* cancel = box.button(QMessageBox::Cancel)) return cancel;
    const QList<QAbstractButton*> buttons = box.buttons();
    if (buttons.size() == 1) return buttons.first();
    for (QMessageBox::ButtonRole role : {QMessageBox::RejectRole, QMessageBox::NoRole}) {
        const QAbstractButton* found = nullptr;
        int count = 0;
        for (const QAbstractButton* button : buttons) {
            if (box.buttonRole(const_cast<QAbstractButton*>(button)) == role) {
                found = button;
                ++count;
            }
        }
        if (count == 1) return found;
    }
    return nullptr;
}

}  // namespace

bool DialogFrames::canBeCancelled(const QDialog& dialog) {
    if (const auto* box = qobject_cast<const QMessageBox*>(&dialog)) return escapeButtonOf(*box) != nullptr;
    const Qt::WindowFlags flags = dialog.windowFlags();
    return !(flags & Qt::CustomizeWindowHint) || (flags & Qt::WindowCloseButtonHint);
}

void DialogFrames::frame(QDialog& dialog) {
    if (!dialog.isWindow() || (dialog.windowFlags() & Qt::FramelessWindowHint) || dialog.property(kFramed).toBool())
        return;
    dialog.setProperty(kFramed, true);
    dialog.setWindowFlag(Qt::FramelessWindowHint, true);
    dialog.setContentsMargins(dialog.contentsMargins() + QMargins(kBorder, kBorder + kCaptionHeight, kBorder, kBorder));
    new OwnFrame(dialog);
}

bool DialogFrames::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Polish && watched->isWidgetType()) {
        if (auto* dialog = qobject_cast<QDialog*>(watched); dialog && !dialog->isVisible()) frame(*dialog);
    }
    return false;
}

}  // namespace app
