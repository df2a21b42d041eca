#include "app/RoomSplitter.h"

#include <algorithm>

namespace app {

RoomSplitter::RoomSplitter(int logHeight, QWidget* parent) : QSplitter(Qt::Vertical, parent), logHeight_(logHeight) {
    connect(this, &QSplitter::splitterMoved, this, [this] {
        if (count() == 2) logHeight_ = std::max(0, sizes()[1] - lent_);
    });
}

void RoomSplitter::resizeEvent(QResizeEvent* event) {
    QSplitter::resizeEvent(event);
    share();
}

void RoomSplitter::share() {
    if (count() != 2 || !window()) return;
    const int extra = std::max(0, window()->height() - window()->minimumHeight());
    const int lent = extra / kLogShareDivisor;
    const QList<int> now = sizes();
    const int total = now[0] + now[1];
    const int log = std::min(logHeight_ + lent, total);
    lent_ = lent;
    if (now[1] != log) setSizes({total - log, log});
}

}  // namespace app
