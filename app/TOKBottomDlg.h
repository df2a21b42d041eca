#pragma once
// The about dialog: what the program does and whom to write to.
#include <QDialog>

class QPlainTextEdit;
class QToolButton;

namespace app {

class TOKBottomDlg : public QDialog {
    Q_OBJECT
public:
    explicit TOKBottomDlg(QWidget* parent = nullptr);

    static QString descriptionText();

    // The client area, 388 x 251, inside whatever frame the dialog has.
    QWidget* ClientArea = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QToolButton* SpeedButton1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace app
