#include "app/MessageLog.h"

#include <QScrollBar>

namespace app {

MessageLog::MessageLog(QWidget* parent) : QPlainTextEdit(parent) {
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &MessageLog::noteWhereItIs);
    // A range that changes (a late layout, lines dropped) is no move of the user's.
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] {
        if (!relayingOut_ && showsItsEnd_) scrollToEnd();
    });
}

void MessageLog::noteWhereItIs() {
    if (relayingOut_) return;
    showsItsEnd_ = verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void MessageLog::scrollToEnd() {
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    showsItsEnd_ = true;
}

void MessageLog::appendLine(const QString& line) {
    const bool follow = showsItsEnd_;
    relayingOut_ = true;
    appendPlainText(line);
    relayingOut_ = false;
    if (follow) scrollToEnd();
    else noteWhereItIs();
}

void MessageLog::resizeEvent(QResizeEvent* event) {
    const bool follow = showsItsEnd_;
    relayingOut_ = true;
    QPlainTextEdit::resizeEvent(event);
    relayingOut_ = false;
    if (follow) scrollToEnd();
    else noteWhereItIs();
}

}  // namespace app
