#pragma once
// The downloads list's page: a grid of whole rows (see RowGridView) that
// looks and moves like the results grid beside it, one row per song, with
// its pop-up menu (打开歌曲, 打开所在文件夹, 重新下载, 停止, 优先下载,
// 从列表中删除, 全部开始, 全部停止, 清除已完成, 下载设置...) and a line of
// totals under the rows.
// Double-click or Enter opens a finished song; Delete removes the selected
// rows and selects the one after them; Tab leaves the list.
//
// A click on a column's title sorts the rows by it (again: the other way,
// a third time: back in the list's own order, which is the order songs are
// downloaded in whatever the page shows). While sorted, the view's rows are
// the sorting model's; the list's commands take the list model's rows, so
// every row handed to them is mapped (sourceRow).
//
// While songs download, the first running row is kept in view, until the
// user scrolls or moves through the list; the next batch is followed again.
// Half of what the page gains in width beyond the window's own size goes to 状态,
// so that a reason can be read whole; the width kept for the next start is
// the one the user gave it.
#include <initializer_list>

#include <QTimer>

#include "app/ListTotals.h"
#include "store/view/RowGridView.h"

class QAction;
class QLabel;
class QMenu;
class QSortFilterProxyModel;

namespace app {

class DownloadList;
class DownloadListDelegate;

class DownloadListView : public store::RowGridView {
    Q_OBJECT
public:
    DownloadListView(DownloadList& list, QWidget* parent = nullptr);
    ~DownloadListView() override;

    // The columns' widths before the user changes them.
    static QList<int> defaultColumnWidths();

    // The selected rows, as the list model's rows, top to bottom of the
    // page; the current row when none is selected.
    QList<int> chosenRows() const;
    // The list model's row shown at the view's `row` (-1 for none), and back.
    int sourceRow(int viewRow) const;
    int viewRow(int sourceRow) const;

    QMenu* PopupMenu2 = nullptr;
    QAction* OpenSong1 = nullptr;
    QAction* OpenFolder2 = nullptr;
    QAction* Restart1 = nullptr;
    QAction* Stop1 = nullptr;
    QAction* MoveToFront1 = nullptr;
    QAction* Remove1 = nullptr;
    QAction* StartAll1 = nullptr;
    QAction* StopAll1 = nullptr;
    QAction* ClearFinished1 = nullptr;
    QLabel* Totals1 = nullptr;  // the line under the rows
    QAction* ListSettings1 = nullptr;

    // Makes the list model's `row` the current and only selected row,
    // scrolled into view.
    void showRow(int row);
    // Enables the menu's entries for the chosen rows, then shows it at `globalPos`.
    void showMenu(const QPoint& globalPos);
    // Enables the entries for the rows chosen now (showMenu does it first).
    void updateMenu();

    // 全部开始: every stopped or failed song downloads again; 全部停止:
    // every waiting or downloading song stops; 清除已完成: the finished
    // songs leave the list (their files stay).
    void startAll();
    void stopAll();
    void clearFinished();

    // What the list adds up to now, and the tab's text for it.
    ListTotals totals() const;
    // Whether the page follows the running rows now.
    bool followsRunning() const { return follow_; }

    // The column widths kept from the last run, and keeping them for the next.
    void restoreColumnWidths();
    void keepColumnWidths() const;

signals:
    // The list's tab should read `text` (ListTotals.h).
    void tabTextChanged(const QString& text);

protected:
    void rowMenuAsked(const QPoint& globalPos, MenuFrom from) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void updateGeometries() override;

private:
    void buildMenu();
    void sortBy(int column);
    // The rows shown through `sorting`, or as the list has them (nullptr).
    void showThrough(QSortFilterProxyModel* sorting);
    // The rows of the list model in `states`, in the list's order.
    QList<int> rowsIn(std::initializer_list<int> states) const;
    // The totals, the tab and the running rows' place, once for a burst of changes.
    void changed();
    void refresh();
    void removeChosen();

    DownloadList& list_;
    QSortFilterProxyModel* sorted_ = nullptr;
    DownloadListDelegate* delegate_ = nullptr;
    QTimer refresh_;
    QString tabText_;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    bool follow_ = true;
    bool wasBusy_ = false;
    // The width 状态 has from the user (or by default), and what a window
    // larger than its own size adds to it now.
    int stateWidth_ = 0;
    int growth_ = 0;
    bool growing_ = false;
};

}  // namespace app
