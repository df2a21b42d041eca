#pragma once
// The progress window's file-copy animation: a sheet of paper flying from
// one folder into another, painted frame by frame while it plays. Stopped,
// it shows the two folders at rest.
#include <QTimer>
#include <QWidget>

namespace dl {

class CopyAnimation : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFrameCount = 16;
    static constexpr int kFrameMs = 60;

    explicit CopyAnimation(QWidget* parent = nullptr);

    void play();
    void stop();
    bool playing() const { return timer_.isActive(); }
    // The frame on show; -1 while stopped.
    int frame() const { return playing() ? frame_ : -1; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintFolder(QPainter& painter, QPointF at, bool receiving) const;
    void paintSheet(QPainter& painter, int frame) const;

    QTimer timer_;
    int frame_ = 0;
};

}  // namespace dl
