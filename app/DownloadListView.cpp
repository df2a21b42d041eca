#include "app/DownloadListView.h"

#include <algorithm>

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include "app/DownloadList.h"
#include "app/ListSettingsDialog.h"

namespace app {

DownloadListView::DownloadListView(DownloadList& list, QWidget* parent) : RowGridView(parent), list_(list) {
    setObjectName(QStringLiteral("DownloadListView1"));
    setModel(&list.model());
    // Rows are chosen whole: Tab goes on to the log.
    setTabKeyNavigation(false);
    // All but where it is saved fit the page; that column is reached by
    // scrolling, its whole text in its tooltip.
    const int widths[] = {118, 150, 38, 128, 72, 56, 320};
    for (int column = 0; column < DownloadListModel::ColumnCount; ++column) setColumnWidth(column, widths[column]);
    buildMenu();
}

void DownloadListView::buildMenu() {
    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    PopupMenu2->setSeparatorsCollapsible(false);
    PopupMenu2->setStyleSheet(QStringLiteral(
        "QMenu::separator { height: 1px; margin: 3px 1px; background: #808080; border-bottom: 1px solid #FFFFFF; }"));
    OpenSong1 = PopupMenu2->addAction(QStringLiteral("打开歌曲"));
    OpenSong1->setObjectName(QStringLiteral("OpenSong1"));
    OpenFolder2 = PopupMenu2->addAction(QStringLiteral("打开所在文件夹"));
    OpenFolder2->setObjectName(QStringLiteral("OpenFolder2"));
    PopupMenu2->addSeparator();
    Restart1 = PopupMenu2->addAction(QStringLiteral("重新下载"));
    Restart1->setObjectName(QStringLiteral("Restart1"));
    Stop1 = PopupMenu2->addAction(QStringLiteral("停止"));
    Stop1->setObjectName(QStringLiteral("Stop1"));
    MoveToFront1 = PopupMenu2->addAction(QStringLiteral("优先下载"));
    MoveToFront1->setObjectName(QStringLiteral("MoveToFront1"));
    PopupMenu2->addSeparator();
    Remove1 = PopupMenu2->addAction(QStringLiteral("从列表中删除"));
    Remove1->setObjectName(QStringLiteral("Remove1"));
    PopupMenu2->addSeparator();
    ListSettings1 = PopupMenu2->addAction(QStringLiteral("下载设置..."));
    ListSettings1->setObjectName(QStringLiteral("ListSettings1"));
    connect(OpenSong1, &QAction::triggered, this, [this] { list_.openSong(currentRow()); });
    connect(OpenFolder2, &QAction::triggered, this, [this] { list_.openFolder(currentRow()); });
    connect(Restart1, &QAction::triggered, this, [this] { list_.restart(chosenRows()); });
    connect(Stop1, &QAction::triggered, this, [this] { list_.stop(chosenRows()); });
    connect(Remove1, &QAction::triggered, this, [this] { list_.remove(chosenRows()); });
    connect(MoveToFront1, &QAction::triggered, this, [this] { list_.moveToFront(chosenRows()); });
    connect(ListSettings1, &QAction::triggered, this, [this] { editListSettings(this, list_); });
}

QList<int> DownloadListView::chosenRows() const {
    QList<int> rows = selectedRows();
    if (rows.isEmpty() && currentRow() >= 0) rows << currentRow();
    return rows;
}

void DownloadListView::updateMenu() {
    const QList<int> rows = chosenRows();
    const int current = currentRow();
    OpenSong1->setEnabled(list_.canOpen(current));
    OpenFolder2->setEnabled(list_.canOpenFolder(current));
    Restart1->setEnabled(std::any_of(rows.begin(), rows.end(), [this](int row) { return list_.canRestart(row); }));
    Stop1->setEnabled(std::any_of(rows.begin(), rows.end(), [this](int row) { return list_.canStop(row); }));
    Remove1->setEnabled(std::any_of(rows.begin(), rows.end(), [this](int row) { return list_.canRemove(row); }));
    MoveToFront1->setEnabled(
        std::any_of(rows.begin(), rows.end(), [this](int row) { return list_.canMoveToFront(row); }));
    ListSettings1->setEnabled(!list_.runByOther());
}

void DownloadListView::showRow(int row) {
    if (row < 0 || row >= model()->rowCount()) return;
    clearSelection();
    setCurrentIndex(model()->index(row, 0));
    selectRow(row);
    scrollTo(model()->index(row, 0));
}

void DownloadListView::showMenu(const QPoint& globalPos) {
    updateMenu();
    PopupMenu2->popup(globalPos);
}

void DownloadListView::rowMenuAsked(const QPoint& globalPos, MenuFrom) { showMenu(globalPos); }

void DownloadListView::mouseDoubleClickEvent(QMouseEvent* event) {
    RowGridView::mouseDoubleClickEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid()) list_.openSong(index.row());
}

void DownloadListView::keyPressEvent(QKeyEvent* event) {
    // Either Enter key, and Delete, also from the keypad.
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && plain) {
        event->accept();
        list_.openSong(currentRow());
        return;
    }
    if (event->key() == Qt::Key_Delete && plain) {
        event->accept();
        list_.remove(chosenRows());
        return;
    }
    RowGridView::keyPressEvent(event);
}

}  // namespace app
