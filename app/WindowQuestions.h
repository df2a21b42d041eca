#pragma once
// The questions the main window asks before it loses something: clearing
// every stored song, and quitting while songs of the list download.
#include <QString>

class QWidget;

namespace app {

// "这项操作将删除…": true for 是.
bool askToClear(QWidget& parent);
// The close question's text for `songs` songs downloading.
QString quitQuestion(int songs);
// 退出 / 取消, 取消 the default and Esc: true for 退出.
bool askToQuit(QWidget& parent, int songs);

}  // namespace app
