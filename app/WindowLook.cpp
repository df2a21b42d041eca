#include "app/WindowLook.h"

#include <QToolButton>

namespace app {

QFont songFont(int pixelSize, bool bold) {
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QToolButton* makeToolButton(QWidget* parent, const char* name, const QString& text, Glyph glyph) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(text);
    button->setIcon(glyphIcon(glyph));
    button->setIconSize(QSize(24, 24));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setFixedSize(47, 55);
    button->setFont(songFont(16, true));
    // Flat speed buttons never take the keyboard focus.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QToolButton* makeLogoButton(QWidget* parent, const char* name) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(QStringLiteral("BrelvoMP3"));
    button->setAutoRaise(true);
    button->setFixedSize(293, 55);
    button->setFocusPolicy(Qt::NoFocus);
    QFont logoFont(QStringLiteral("隶书"));
    logoFont.setPixelSize(48);
    logoFont.setBold(true);
    button->setFont(logoFont);
    button->setStyleSheet(QStringLiteral("QToolButton { color: green; }"));
    return button;
}

QToolButton* makePanelButton(QWidget* parent, const char* name, const QString& text, Glyph glyph) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(text);
    button->setIcon(glyphIcon(glyph, 20));
    button->setIconSize(QSize(20, 20));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    button->setFixedSize(82, 37);
    button->setFont(songFont(14, true));
    return button;
}

}  // namespace app
