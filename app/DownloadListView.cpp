#include "app/DownloadListView.h"

#include <algorithm>

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include "app/DownloadList.h"
#include "store/view/CurrentRowMark.h"

namespace app {
namespace {
const char* const kMoneyGreen = "#C0DCC0";
}

DownloadListView::DownloadListView(DownloadList& list, QWidget* parent) : QTableView(parent), list_(list) {
    setObjectName(QStringLiteral("DownloadListView1"));
    setModel(&list.model());
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows are chosen whole: Tab goes on to the log.
    setTabKeyNavigation(false);
    setShowGrid(true);
    setWordWrap(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    verticalHeader()->hide();
    // Every row the same height, never measured: a long list opens at once.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(18);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    // Looks like the results grid beside it.
    QFont cellFont(QStringLiteral("MS Sans Serif"));
    cellFont.setPixelSize(13);
    setFont(cellFont);
    QFont titleFont(QStringLiteral("宋体"));
    titleFont.setPixelSize(13);
    titleFont.setBold(true);
    horizontalHeader()->setFont(titleFont);
    horizontalHeader()->setStyleSheet(QStringLiteral("QHeaderView::section { background-color: %1; "
                                                     "border: 1px solid #808080; padding: 1px; }")
                                          .arg(QLatin1String(kMoneyGreen)));
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);

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
    PopupMenu2->addSeparator();
    Remove1 = PopupMenu2->addAction(QStringLiteral("从列表中删除"));
    Remove1->setObjectName(QStringLiteral("Remove1"));
    connect(OpenSong1, &QAction::triggered, this, [this] { list_.openSong(currentRow()); });
    connect(OpenFolder2, &QAction::triggered, this, [this] { list_.openFolder(currentRow()); });
    connect(Restart1, &QAction::triggered, this, [this] { list_.restart(chosenRows()); });
    connect(Stop1, &QAction::triggered, this, [this] { list_.stop(chosenRows()); });
    connect(Remove1, &QAction::triggered, this, [this] { list_.remove(chosenRows()); });
}

int DownloadListView::currentRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

QList<int> DownloadListView::chosenRows() const {
    QList<int> rows;
    if (selectionModel())
        for (const QModelIndex& index : selectionModel()->selectedRows()) rows << index.row();
    std::sort(rows.begin(), rows.end());
    if (rows.isEmpty() && currentRow() >= 0) rows << currentRow();
    return rows;
}

void DownloadListView::updateMenu() {
    const QList<int> rows = chosenRows();
    const int current = currentRow();
    OpenSong1->setEnabled(list_.canOpen(current));
    OpenFolder2->setEnabled(current >= 0);
    Restart1->setEnabled(std::any_of(rows.begin(), rows.end(), [this](int row) { return list_.canRestart(row); }));
    Stop1->setEnabled(std::any_of(rows.begin(), rows.end(), [this](int row) { return list_.canStop(row); }));
    Remove1->setEnabled(!rows.isEmpty());
}

void DownloadListView::showMenu(const QPoint& globalPos) {
    updateMenu();
    PopupMenu2->popup(globalPos);
}

// Outside the selection the row is selected alone; inside it the selection
// stays (so the menu acts on all of it) and the row becomes current.
void DownloadListView::selectForMenu(const QModelIndex& index) {
    QItemSelectionModel* selection = selectionModel();
    if (selection->isRowSelected(index.row(), QModelIndex())) {
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    } else {
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

QPoint DownloadListView::currentRowMenuPlace() {
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return viewport()->mapToGlobal(QPoint(0, 0));
    scrollTo(current);
    const QRect cell = visualRect(current).intersected(viewport()->rect());
    return viewport()->mapToGlobal(cell.isValid() ? cell.bottomLeft() : QPoint(0, 0));
}

void DownloadListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        const QModelIndex index = indexAt(event->position().toPoint());
        if (index.isValid()) selectForMenu(index);
        showMenu(event->globalPosition().toPoint());
        return;
    }
    QTableView::mousePressEvent(event);
}

void DownloadListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid()) list_.openSong(index.row());
}

void DownloadListView::keyPressEvent(QKeyEvent* event) {
    const bool menuKey = event->key() == Qt::Key_Menu;
    const bool shiftF10 = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
    if (menuKey || shiftF10) {
        event->accept();
        if (currentIndex().isValid()) selectForMenu(currentIndex());
        showMenu(currentRowMenuPlace());
        return;
    }
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
    QTableView::keyPressEvent(event);
}

void DownloadListView::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    store::drawCurrentRowMark(*this);
}

void DownloadListView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    store::updateRowOf(*this, previous);
    store::updateRowOf(*this, current);
}

}  // namespace app
