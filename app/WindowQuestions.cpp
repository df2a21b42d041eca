#include "app/WindowQuestions.h"

#include <QMessageBox>
#include <QPushButton>

namespace app {

bool askToClear(QWidget& parent) {
    return QMessageBox::question(&parent, QStringLiteral("清除数据"),
                                 QStringLiteral("这项操作将删除您目前已经搜索到的所有数据！继续吗？"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

QString quitQuestion(int songs) {
    return QStringLiteral("有 %1 首歌曲正在下载，退出后下次启动会接着下载。退出吗？").arg(songs);
}

bool askToQuit(QWidget& parent, int songs) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("退出"), quitQuestion(songs), QMessageBox::NoButton, &parent);
    QPushButton* quit = box.addButton(QStringLiteral("退出"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == quit;
}

}  // namespace app
