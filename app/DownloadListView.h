#pragma once
// The downloads list's page: a grid of whole rows (see RowGridView) that
// looks and moves like the results grid beside it, one row per song, with
// its pop-up menu (打开歌曲, 打开所在文件夹, 重新下载, 停止, 优先下载,
// 从列表中删除, 下载设置...).
// Double-click or Enter opens a finished song; Delete removes the selected
// rows; Tab leaves the list.
#include "store/view/RowGridView.h"

class QAction;
class QMenu;

namespace app {

class DownloadList;

class DownloadListView : public store::RowGridView {
    Q_OBJECT
public:
    DownloadListView(DownloadList& list, QWidget* parent = nullptr);

    // The selected rows, top to bottom; the current row when none is selected.
    QList<int> chosenRows() const;

    QMenu* PopupMenu2 = nullptr;
    QAction* OpenSong1 = nullptr;
    QAction* OpenFolder2 = nullptr;
    QAction* Restart1 = nullptr;
    QAction* Stop1 = nullptr;
    QAction* MoveToFront1 = nullptr;
    QAction* Remove1 = nullptr;
    QAction* ListSettings1 = nullptr;

    // Makes `row` the current and only selected row, scrolled into view.
    void showRow(int row);
    // Enables the menu's entries for the chosen rows, then shows it at `globalPos`.
    void showMenu(const QPoint& globalPos);
    // Enables the entries for the rows chosen now (showMenu does it first).
    void updateMenu();

protected:
    void rowMenuAsked(const QPoint& globalPos, MenuFrom from) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildMenu();

    DownloadList& list_;
};

}  // namespace app
