#pragma once
// What the user made of the main window, kept with the program's settings
// (ProgramSettings.h) for the next start: the window's size, whether it was
// maximized, and the downloads list's column widths. What the settings file
// holds is read as anything: a size outside the bounds is brought inside
// them, a width that is no width is the column's default.
#include <QList>
#include <QSize>

class QWidget;

namespace app {

// The size kept last time, within `least` and `most` (`most` is never
// below `least`); `least` when none was kept.
QSize keptWindowSize(const QSize& least, const QSize& most);
bool keptMaximized();
// `size` is the window's size when it is not maximized.
void keepWindowSize(const QSize& size, bool maximized);
// The window takes the size kept (brought inside its screen's area, never
// below its least size) and is maximized again when it was; its size and
// state are kept.
void restoreWindowSize(QWidget& window);
void keepWindowSizeOf(const QWidget& window);

// The widths kept for the downloads list's columns, one for each of
// `defaults` (its default where none, or no sound one, was kept).
QList<int> keptListColumnWidths(const QList<int>& defaults);
void keepListColumnWidths(const QList<int>& widths);

// A column is never kept narrower or wider than this.
constexpr int kLeastColumnWidth = 16;
constexpr int kMostColumnWidth = 4000;

}  // namespace app
