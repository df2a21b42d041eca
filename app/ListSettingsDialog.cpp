#include "app/ListSettingsDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>

#include "app/DownloadList.h"

namespace app {

ListSettingsDialog::ListSettingsDialog(const ListSettings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("ListSettingsDlg"));
    setWindowTitle(QStringLiteral("下载设置"));
    auto* form = new QFormLayout;
    AtATime1 = new QSpinBox(this);
    AtATime1->setObjectName(QStringLiteral("AtATime1"));
    AtATime1->setRange(ListSettings::kMinAtATime, ListSettings::kMaxAtATime);
    AtATime1->setValue(settings.atATime);
    AtATime1->setSuffix(QStringLiteral(" 首"));
    form->addRow(QStringLiteral("同时下载"), AtATime1);

    LimitSpeed1 = new QCheckBox(QStringLiteral("限速"), this);
    LimitSpeed1->setObjectName(QStringLiteral("LimitSpeed1"));
    LimitSpeed1->setChecked(settings.limitSpeed);
    LimitKBps1 = new QSpinBox(this);
    LimitKBps1->setObjectName(QStringLiteral("LimitKBps1"));
    LimitKBps1->setRange(ListSettings::kMinLimitKBps, ListSettings::kMaxLimitKBps);
    LimitKBps1->setValue(settings.limitKBps);
    LimitKBps1->setSuffix(QStringLiteral(" KB/s"));
    LimitKBps1->setEnabled(settings.limitSpeed);
    connect(LimitSpeed1, &QCheckBox::toggled, LimitKBps1, &QWidget::setEnabled);
    auto* limitRow = new QHBoxLayout;
    limitRow->addWidget(LimitSpeed1);
    limitRow->addWidget(LimitKBps1, 1);
    form->addRow(limitRow);

    Buttons1 = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons1->setObjectName(QStringLiteral("Buttons1"));
    Buttons1->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    Buttons1->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(Buttons1, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons1, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Buttons1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

ListSettings ListSettingsDialog::settings() const {
    ListSettings chosen;
    chosen.atATime = AtATime1->value();
    chosen.limitSpeed = LimitSpeed1->isChecked();
    chosen.limitKBps = LimitKBps1->value();
    return chosen;
}

void editListSettings(QWidget* parent, DownloadList& list) {
    ListSettingsDialog dialog(list.settings(), parent);
    if (dialog.exec() != QDialog::Accepted) return;
    saveListSettings(dialog.settings());
    list.applySettings(dialog.settings());
}

}  // namespace app
