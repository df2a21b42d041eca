#pragma once
// The downloads list's page: one row per song, whole-row selection of one
// or several rows, and its pop-up menu (打开歌曲, 打开所在文件夹, 重新下载,
// 停止, 从列表中删除). Double-click or Enter opens a finished song; Delete
// removes the selected rows; the Menu key and Shift+F10 open the menu at
// the current row. A right click first selects the row under the pointer,
// as in the results grid.
#include <QTableView>

class QAction;
class QMenu;

namespace app {

class DownloadList;

class DownloadListView : public QTableView {
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
    QAction* Remove1 = nullptr;

    // Enables the menu's entries for the chosen rows, then shows it at `globalPos`.
    void showMenu(const QPoint& globalPos);
    // Enables the entries for the rows chosen now (showMenu does it first).
    void updateMenu();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void buildMenu();
    void selectForMenu(const QModelIndex& index);
    QPoint currentRowMenuPlace();
    int currentRow() const;

    DownloadList& list_;
};

}  // namespace app
