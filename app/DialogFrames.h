#pragma once
// Every dialog and message box of the program, Qt's own included (the Save
// dialog's "replace?" question, the start-up error box), gets a frame of its
// own instead of the window manager's: some window managers (openbox, for
// one) draw minimize, maximize and close boxes on every frame they draw,
// whatever a window asks, and minimizing a modal box there hides the whole
// program. The own frame is a title bar with the caption, a close box only
// where the dialog can be cancelled, and a thin border that resizes the
// dialogs that can be resized. Installed on the application; it frames each
// dialog once, when the dialog is first polished, before it is shown.
#include <QObject>

class QDialog;

namespace app {

class DialogFrames : public QObject {
    Q_OBJECT
public:
    // Room round the dialog's contents: the border on each side, and the
    // title bar below the top border.
    static constexpr int kBorder = 3;

    // Frames `dialog` now (it must not be shown yet); does nothing to one
    // that is framed already or asks for no frame at all.
    static void frame(QDialog& dialog);
    // Whether the dialog has a cancel action, which its close box then runs.
    static bool canBeCancelled(const QDialog& dialog);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace app
