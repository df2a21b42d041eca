#pragma once
// A title bar drawn by the window itself: its caption and nothing else. The
// progress window asks the window manager for no frame, since a window
// manager may draw minimize, maximize and close boxes on any frame it
// draws, whatever the window asks; so the caption comes from here. Dragging
// it moves the window.
#include <QPoint>
#include <QWidget>

namespace dl {

class CaptionBar : public QWidget {
public:
    static constexpr int kHeight = 20;

    explicit CaptionBar(QWidget* window);

    // The window's caption as the bar shows it: shortened in the middle when
    // it does not fit.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Where the drag took hold, in global coordinates, and the window's
    // place then; only used where the window system cannot move it itself.
    bool dragging_ = false;
    QPoint grabbedAt_;
    QPoint windowAt_;
};

}  // namespace dl
