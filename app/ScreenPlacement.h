#pragma once
// Where the program's windows open on the screen.
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace app {

// The top-left corner that centres a window of `size` in a screen's
// available area, kept inside that area: a window larger than the screen
// opens at the area's corner, its title bar and first controls in view.
QPoint centredTopLeft(const QSize& size, const QRect& available);

// Moves `window` there on its screen (the primary screen before it is shown).
void centreOnScreen(QWidget& window);

}  // namespace app
