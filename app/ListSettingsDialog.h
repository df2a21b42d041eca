#pragma once
// 下载设置: the downloads list's settings in a small dialog (同时下载, 限速),
// in the frame every dialog of the program gets (DialogFrames).
#include <QDialog>

#include "app/ListSettings.h"

class QCheckBox;
class QDialogButtonBox;
class QSpinBox;
class QWidget;

namespace app {

class DownloadList;

class ListSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit ListSettingsDialog(const ListSettings& settings, QWidget* parent = nullptr);

    // As the dialog's controls have them now.
    ListSettings settings() const;

    QSpinBox* AtATime1 = nullptr;
    QCheckBox* LimitSpeed1 = nullptr;
    QSpinBox* LimitKBps1 = nullptr;
    QDialogButtonBox* Buttons1 = nullptr;
};

// Shows the dialog over `parent` with the list's settings; 确定 keeps them
// and applies them to the list at once.
void editListSettings(QWidget* parent, DownloadList& list);

}  // namespace app
