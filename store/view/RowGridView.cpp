#include "store/view/RowGridView.h"

#include <algorithm>

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include "store/view/CurrentRowMark.h"

namespace store {
namespace {

const char* const kMoneyGreen = "#C0DCC0";

bool movesTheCursor(int key) {
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: return true;
    default: return false;
    }
}

}  // namespace

RowGridView::RowGridView(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    verticalHeader()->hide();
    // Every row the same height, never measured: a grid of a million rows
    // opens, draws and scrolls like one of twenty, reading only the rows on
    // screen.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(18);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);

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

    // The chosen rows stay visible when the grid loses focus.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);
}

int RowGridView::currentRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

QList<int> RowGridView::selectedRows() const {
    QList<int> rows;
    if (!selectionModel()) return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Outside the selection the row is selected alone; inside it the selection
// stays (so the menu acts on all of it) and the row becomes current.
void RowGridView::selectForMenu(const QModelIndex& index) {
    QItemSelectionModel* selection = selectionModel();
    if (!selection) return;
    if (selection->isRowSelected(index.row(), QModelIndex())) {
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    } else {
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

QPoint RowGridView::currentRowMenuPlace() {
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return viewport()->mapToGlobal(QPoint(0, 0));
    scrollTo(current);
    // Below the current cell's left end, kept inside the visible part.
    const QRect cell = visualRect(current).intersected(viewport()->rect());
    return viewport()->mapToGlobal(cell.isValid() ? cell.bottomLeft() : QPoint(0, 0));
}

void RowGridView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        const QModelIndex index = indexAt(event->position().toPoint());
        if (index.isValid()) selectForMenu(index);
        rowMenuAsked(event->globalPosition().toPoint(), MenuFrom::RightClick);
        return;
    }
    QTableView::mousePressEvent(event);
}

void RowGridView::keyPressEvent(QKeyEvent* event) {
    const bool menuKey = event->key() == Qt::Key_Menu;
    const bool shiftF10 = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
    if (menuKey || shiftF10) {
        event->accept();
        // The menu acts on what it shows selected: the current row joins the
        // selection first, as under a right click.
        if (currentIndex().isValid()) selectForMenu(currentIndex());
        rowMenuAsked(currentRowMenuPlace(), MenuFrom::Keyboard);
        return;
    }
    QTableView::keyPressEvent(event);
}

// The item view moves the current row without touching the selection when
// Ctrl is held; here a move always selects: the new row alone, or with Shift
// the rows from the anchor. Toggling stays with Ctrl+click and Ctrl+Space.
QItemSelectionModel::SelectionFlags RowGridView::selectionCommand(const QModelIndex& index,
                                                                  const QEvent* event) const {
    if (event && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (movesTheCursor(key->key()) && (key->modifiers() & Qt::ControlModifier)) {
            return ((key->modifiers() & Qt::ShiftModifier) ? QItemSelectionModel::SelectCurrent
                                                           : QItemSelectionModel::ClearAndSelect) |
                   QItemSelectionModel::Rows;
        }
    }
    return QTableView::selectionCommand(index, event);
}

// Home and End go to the first and last row, as Ctrl+Home and Ctrl+End do:
// in a grid of whole rows the row is what the keys are for.
QModelIndex RowGridView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const int rows = model() ? model()->rowCount() : 0;
    if ((action == MoveHome || action == MoveEnd) && rows > 0) {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        return model()->index(action == MoveHome ? 0 : rows - 1, column);
    }
    return QTableView::moveCursor(action, modifiers);
}

void RowGridView::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    drawCurrentRowMark(*this);
}

void RowGridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    updateRowOf(*this, previous);
    updateRowOf(*this, current);
}

}  // namespace store
