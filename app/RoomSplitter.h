#pragma once
// The main window's splitter between its pages (above) and its log
// (below). At the window's own size the log has the height the user gave it
// (by dragging the handle), or its first one; of the height the window has
// beyond its own, the log takes a quarter and the pages the rest.
#include <QSplitter>

namespace app {

class RoomSplitter : public QSplitter {
    Q_OBJECT
public:
    // The log's first height.
    RoomSplitter(int logHeight, QWidget* parent = nullptr);

    // The share of the window's extra height that goes to the log.
    static constexpr int kLogShareDivisor = 4;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void share();

    // The log's height without what a larger window lends it.
    int logHeight_;
    int lent_ = 0;
};

}  // namespace app
