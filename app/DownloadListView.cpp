#include "app/DownloadListView.h"

#include <algorithm>
#include <climits>

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSortFilterProxyModel>

#include "app/DownloadList.h"
#include "app/DownloadListDelegate.h"
#include "app/ListSettingsDialog.h"
#include "app/ListSortModel.h"
#include "app/WindowSettings.h"

namespace app {
namespace {

// The line of totals under the rows.
constexpr int kTotalsHeight = 18;
// The page's width in a window of its own size: half of what it gains
// beyond it goes to 状态, so that a reason can be read whole.
constexpr int kBaseWidth = 592;

bool movesThroughTheList(int key) {
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: return true;
    default: return false;
    }
}

}  // namespace

QList<int> DownloadListView::defaultColumnWidths() {
    // At the window's own size everything but where it is saved fits the
    // page; that column shows the file's name, its folder in the tooltip.
    return {110, 190, 64, 104, 64, 56, 160};
}

DownloadListView::DownloadListView(DownloadList& list, QWidget* parent) : RowGridView(parent), list_(list) {
    setObjectName(QStringLiteral("DownloadListView1"));
    // Sorting shows the rows in another order; the list keeps its own. The
    // sorting model stands between only while the rows are sorted: it pays
    // for every row the list gains, which a long add of a million songs
    // would feel as a stall of a second.
    sorted_ = new ListSortModel(this);
    sorted_->setSortRole(DownloadListModel::SortRole);
    sorted_->setDynamicSortFilter(true);
    setModel(&list.model());
    delegate_ = new DownloadListDelegate(this);
    setItemDelegate(delegate_);
    // Rows are chosen whole: Tab goes on to the log.
    setTabKeyNavigation(false);
    const QList<int> widths = defaultColumnWidths();
    for (int column = 0; column < DownloadListModel::ColumnCount; ++column) setColumnWidth(column, widths[column]);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &DownloadListView::sortBy);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        if (column == DownloadListModel::StateColumn && !growing_) stateWidth_ = size - growth_;
    });
    stateWidth_ = widths[DownloadListModel::StateColumn];

    Totals1 = new QLabel(this);
    Totals1->setObjectName(QStringLiteral("Totals1"));
    QFont totalsFont(QStringLiteral("宋体"));
    totalsFont.setPixelSize(12);
    Totals1->setFont(totalsFont);
    Totals1->setStyleSheet(QStringLiteral("QLabel { background-color: #C0DCC0; padding-left: 4px; }"));

    // A scroll of the user's own ends the following of the running rows.
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this] { follow_ = false; });
    refresh_.setSingleShot(true);
    refresh_.setInterval(0);
    connect(&refresh_, &QTimer::timeout, this, &DownloadListView::refresh);
    const DownloadListModel* source = &list.model();
    connect(source, &QAbstractItemModel::rowsInserted, this, &DownloadListView::changed);
    connect(source, &QAbstractItemModel::rowsRemoved, this, &DownloadListView::changed);
    connect(source, &QAbstractItemModel::modelReset, this, &DownloadListView::changed);
    connect(source, &QAbstractItemModel::dataChanged, this, &DownloadListView::changed);
    buildMenu();
    refresh();
}

DownloadListView::~DownloadListView() = default;

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
    StartAll1 = PopupMenu2->addAction(QStringLiteral("全部开始"));
    StartAll1->setObjectName(QStringLiteral("StartAll1"));
    StopAll1 = PopupMenu2->addAction(QStringLiteral("全部停止"));
    StopAll1->setObjectName(QStringLiteral("StopAll1"));
    ClearFinished1 = PopupMenu2->addAction(QStringLiteral("清除已完成"));
    ClearFinished1->setObjectName(QStringLiteral("ClearFinished1"));
    PopupMenu2->addSeparator();
    ListSettings1 = PopupMenu2->addAction(QStringLiteral("下载设置..."));
    ListSettings1->setObjectName(QStringLiteral("ListSettings1"));
    connect(OpenSong1, &QAction::triggered, this, [this] { list_.openSong(sourceRow(currentRow())); });
    connect(OpenFolder2, &QAction::triggered, this, [this] { list_.openFolder(sourceRow(currentRow())); });
    connect(Restart1, &QAction::triggered, this, [this] { list_.restart(chosenRows()); });
    connect(Stop1, &QAction::triggered, this, [this] { list_.stop(chosenRows()); });
    connect(Remove1, &QAction::triggered, this, &DownloadListView::removeChosen);
    connect(StartAll1, &QAction::triggered, this, &DownloadListView::startAll);
    connect(StopAll1, &QAction::triggered, this, &DownloadListView::stopAll);
    connect(ClearFinished1, &QAction::triggered, this, &DownloadListView::clearFinished);
    connect(MoveToFront1, &QAction::triggered, this, [this] { list_.moveToFront(chosenRows()); });
    connect(ListSettings1, &QAction::triggered, this, [this] { editListSettings(this, list_); });
}

int DownloadListView::sourceRow(int row) const {
    if (row < 0 || row >= model()->rowCount()) return -1;
    if (model() != sorted_) return row;
    return sorted_->mapToSource(sorted_->index(row, 0)).row();
}

int DownloadListView::viewRow(int row) const {
    if (row < 0 || row >= list_.model().rowCount()) return -1;
    if (model() != sorted_) return row;
    return sorted_->mapFromSource(list_.model().index(row, 0)).row();
}

// In the list's order: what a command starts again is queued in it.
QList<int> DownloadListView::chosenRows() const {
    QList<int> rows;
    for (int row : selectedRows()) rows << sourceRow(row);
    if (rows.isEmpty() && currentRow() >= 0) rows << sourceRow(currentRow());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QList<int> DownloadListView::rowsIn(std::initializer_list<int> states) const {
    QList<int> rows;
    const DownloadListModel& model = list_.model();
    for (int row = 0; row < model.rowCount(); ++row)
        if (std::find(states.begin(), states.end(), static_cast<int>(model.entry(row).state)) != states.end())
            rows << row;
    return rows;
}

void DownloadListView::startAll() {
    list_.restart(rowsIn({static_cast<int>(store::ListState::Stopped), static_cast<int>(store::ListState::Failed)}));
}

void DownloadListView::stopAll() {
    list_.stop(rowsIn({static_cast<int>(store::ListState::Waiting), static_cast<int>(store::ListState::Downloading)}));
}

void DownloadListView::clearFinished() { list_.remove(rowsIn({static_cast<int>(store::ListState::Finished)})); }

void DownloadListView::updateMenu() {
    const QList<int> rows = chosenRows();
    const int current = sourceRow(currentRow());
    OpenSong1->setEnabled(list_.canOpen(current));
    OpenFolder2->setEnabled(list_.canOpenFolder(current));
    Restart1->setEnabled(std::any_of(rows.begin(), rows.end(), [this](int row) { return list_.canRestart(row); }));
    Stop1->setEnabled(std::any_of(rows.begin(), rows.end(), [this](int row) { return list_.canStop(row); }));
    Remove1->setEnabled(std::any_of(rows.begin(), rows.end(), [this](int row) { return list_.canRemove(row); }));
    const ListTotals t = totals();
    const bool runs = !list_.runByOther();
    StartAll1->setEnabled(runs && t.stopped() + t.failed() > 0);
    StopAll1->setEnabled(runs && t.left() > 0);
    ClearFinished1->setEnabled(runs && t.finished() > 0);
    MoveToFront1->setEnabled(
        std::any_of(rows.begin(), rows.end(), [this](int row) { return list_.canMoveToFront(row); }));
    ListSettings1->setEnabled(!list_.runByOther());
}

void DownloadListView::showRow(int row) {
    const int shown = viewRow(row);
    if (shown < 0) return;
    clearSelection();
    setCurrentIndex(model()->index(shown, 0));
    selectRow(shown);
    scrollTo(model()->index(shown, 0));
}

void DownloadListView::showMenu(const QPoint& globalPos) {
    updateMenu();
    PopupMenu2->popup(globalPos);
}

void DownloadListView::rowMenuAsked(const QPoint& globalPos, MenuFrom) { showMenu(globalPos); }

// Ascending, descending, then the list's own order again. The header has
// flipped its indicator by itself before it tells the click: the state is
// kept here.
void DownloadListView::sortBy(int column) {
    QHeaderView* header = horizontalHeader();
    if (column == sortColumn_ && sortOrder_ == Qt::DescendingOrder) {
        sortColumn_ = -1;
        header->setSortIndicatorShown(false);
        showThrough(nullptr);
        return;
    }
    sortOrder_ = column == sortColumn_ ? Qt::DescendingOrder : Qt::AscendingOrder;
    sortColumn_ = column;
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, sortOrder_);
    if (model() != sorted_) showThrough(sorted_);
    sorted_->sort(column, sortOrder_);
}

// The chosen rows stay chosen, the current one current.
void DownloadListView::showThrough(QSortFilterProxyModel* sorting) {
    const QList<int> chosen = selectedRows().isEmpty() ? QList<int>{} : chosenRows();
    const int current = sourceRow(currentRow());
    const int across = horizontalScrollBar()->value();
    QList<int> widths;
    for (int c = 0; c < DownloadListModel::ColumnCount; ++c) widths << columnWidth(c);
    // A new model lays the columns out afresh: none of it is the user's.
    growing_ = true;
    sorted_->setSourceModel(sorting ? &list_.model() : nullptr);
    setModel(sorting ? static_cast<QAbstractItemModel*>(sorting) : &list_.model());
    for (int c = 0; c < DownloadListModel::ColumnCount; ++c) setColumnWidth(c, widths[c]);
    growing_ = false;
    QItemSelection selection;
    for (int row : chosen) {
        const int shown = viewRow(row);
        if (shown >= 0) selection.select(model()->index(shown, 0), model()->index(shown, DownloadListModel::ColumnCount - 1));
    }
    if (const int shown = viewRow(current); shown >= 0)
        selectionModel()->setCurrentIndex(model()->index(shown, 0), QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    horizontalScrollBar()->setValue(across);
}

// The row after the removed ones (the first row that takes their place)
// is selected, not only framed: a second Delete removes what is shown.
void DownloadListView::removeChosen() {
    int first = INT_MAX;
    for (int row : selectedRows()) first = std::min(first, row);
    if (first == INT_MAX) first = currentRow();
    list_.remove(chosenRows());
    const int count = model()->rowCount();
    if (count == 0 || first < 0) return;
    const int next = std::min(first, count - 1);
    clearSelection();
    setCurrentIndex(model()->index(next, 0));
    selectRow(next);
}

void DownloadListView::mouseDoubleClickEvent(QMouseEvent* event) {
    RowGridView::mouseDoubleClickEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid()) list_.openSong(sourceRow(index.row()));
}

void DownloadListView::mousePressEvent(QMouseEvent* event) {
    // A row the user clicks stays where it is.
    follow_ = false;
    RowGridView::mousePressEvent(event);
}

void DownloadListView::keyPressEvent(QKeyEvent* event) {
    // Either Enter key, and Delete, also from the keypad.
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && plain) {
        event->accept();
        list_.openSong(sourceRow(currentRow()));
        return;
    }
    if (event->key() == Qt::Key_Delete && plain) {
        event->accept();
        removeChosen();
        return;
    }
    if (movesThroughTheList(event->key())) follow_ = false;
    RowGridView::keyPressEvent(event);
}

void DownloadListView::updateGeometries() {
    RowGridView::updateGeometries();
    // The line of totals takes the bottom of the rows' room.
    const QMargins margins = viewportMargins();
    if (margins.bottom() != kTotalsHeight)
        setViewportMargins(margins.left(), margins.top(), margins.right(), kTotalsHeight);
    const QRect rows = viewport()->geometry();
    // Called by the table view from its setModel, before the line is made.
    if (Totals1) Totals1->setGeometry(rows.left(), rows.bottom() + 1, rows.width(), kTotalsHeight);
}

void DownloadListView::resizeEvent(QResizeEvent* event) {
    RowGridView::resizeEvent(event);
    // Half of what the page gains beyond its width in a window of its own
    // size: the other half brings the columns to its right into view.
    const int growth = std::max(0, width() - kBaseWidth) / 2;
    if (growth == growth_) return;
    growing_ = true;
    growth_ = growth;
    setColumnWidth(DownloadListModel::StateColumn, stateWidth_ + growth_);
    growing_ = false;
}

ListTotals DownloadListView::totals() const {
    ListTotals t;
    t.states = list_.model().stateCounts();
    t.speed = list_.model().totalSpeed();
    return t;
}

void DownloadListView::changed() {
    if (!refresh_.isActive()) refresh_.start();
}

void DownloadListView::refresh() {
    const ListTotals t = totals();
    Totals1->setText(listTotalsText(t));
    const QString tab = listTabText(t);
    if (tab != tabText_) {
        tabText_ = tab;
        emit tabTextChanged(tab);
    }
    // Songs to come after none: a new batch, followed again.
    if (t.left() > 0 && !wasBusy_) follow_ = true;
    wasBusy_ = t.left() > 0;
    if (!follow_ || t.running() == 0) return;
    int first = INT_MAX;
    for (std::int64_t id : list_.model().downloadingIds()) {
        const int row = viewRow(list_.model().rowOf(id));
        if (row >= 0) first = std::min(first, row);
    }
    if (first == INT_MAX) return;
    const int top = rowAt(0);
    const int bottom = rowAt(viewport()->height() - 1);
    if (top >= 0 && first >= top && (bottom < 0 || first < bottom)) return;
    // Up and down only: where the user scrolled sideways stays.
    const int across = horizontalScrollBar()->value();
    scrollTo(model()->index(first, 0), QAbstractItemView::PositionAtTop);
    horizontalScrollBar()->setValue(across);
}

void DownloadListView::restoreColumnWidths() {
    const QList<int> widths = keptListColumnWidths(defaultColumnWidths());
    growing_ = true;
    for (int column = 0; column < DownloadListModel::ColumnCount; ++column) {
        const int width = column == DownloadListModel::StateColumn ? widths[column] + growth_ : widths[column];
        setColumnWidth(column, width);
    }
    stateWidth_ = widths[DownloadListModel::StateColumn];
    growing_ = false;
}

void DownloadListView::keepColumnWidths() const {
    QList<int> widths;
    for (int column = 0; column < DownloadListModel::ColumnCount; ++column) widths << columnWidth(column);
    // The width the user gave it, without what a larger window lent it.
    widths[DownloadListModel::StateColumn] = stateWidth_;
    keepListColumnWidths(widths);
}

}  // namespace app
