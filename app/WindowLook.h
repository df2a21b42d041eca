#pragma once
// The main window's look: its colours, its Song-face fonts and its flat
// buttons, shared by the parts the window is built of.
#include <QFont>
#include <QString>

#include "app/Glyphs.h"

class QToolButton;
class QWidget;

namespace app {

inline const QString kCream = QStringLiteral("#FFFBF0");
inline const QString kMoneyGreen = QStringLiteral("#C0DCC0");
inline const QString kIdeographicSpace = QStringLiteral("\u3000");

// Faces are asked for by their Windows names; the program's font
// substitutions map them to installed ones.
QFont songFont(int pixelSize, bool bold);
// A tool-bar button: its glyph over its text, flat, never taking the focus.
QToolButton* makeToolButton(QWidget* parent, const char* name, const QString& text, Glyph glyph);
// The program's name in green clerical script, a flat button to its home page.
QToolButton* makeLogoButton(QWidget* parent, const char* name);
// A keyword-panel button: its glyph beside its text.
QToolButton* makePanelButton(QWidget* parent, const char* name, const QString& text, Glyph glyph);

}  // namespace app
