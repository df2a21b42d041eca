#pragma once
// The main window's message log: a read-only text box that lines are
// appended to. It shows its newest line whenever it was showing its end
// before a change (a line appended, the box resized by the splitter, the
// oldest lines dropped); scrolled up by the user, it keeps what the user is
// reading in view.
#include <QPlainTextEdit>

namespace app {

class MessageLog : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit MessageLog(QWidget* parent = nullptr);

    void appendLine(const QString& line);
    // Whether the log shows its last line.
    bool showsItsEnd() const { return showsItsEnd_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void noteWhereItIs();
    void scrollToEnd();

    bool showsItsEnd_ = true;
    // While the box lays itself out again its scroll bar passes through
    // places the user never chose.
    bool relayingOut_ = false;
};

}  // namespace app
