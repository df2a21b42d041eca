#include "app/ScreenPlacement.h"

#include <algorithm>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace app {

QPoint centredTopLeft(const QSize& size, const QRect& available) {
    return {available.left() + std::max(0, (available.width() - size.width()) / 2),
            available.top() + std::max(0, (available.height() - size.height()) / 2)};
}

void centreOnScreen(QWidget& window) {
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (screen) window.move(centredTopLeft(window.size(), screen->availableGeometry()));
}

}  // namespace app
