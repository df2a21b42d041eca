#include "store/view/TDBGrid3D.h"

#include <algorithm>

#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QWheelEvent>

#include "store/view/CurrentRowMark.h"
#include "store/view/SongTableModel.h"

namespace store {
namespace {
const char* const kMoneyGreen = "#C0DCC0";
}

TDBGrid3D::TDBGrid3D(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(true);
    setShowGrid(true);
    setWordWrap(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    verticalHeader()->hide();
    // Every row the same height, never measured: a grid of a million rows
    // draws and scrolls like one of twenty, reading only the rows on screen.
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
                                          .arg(kMoneyGreen));

    // The chosen row stays visible when the grid loses focus.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);

    confirmDelete_ = [this] {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), QStringLiteral("Delete record?"),
                        QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Cancel);
        // This box keeps its own English texts, whatever language Qt's
        // standard buttons are translated into.
        box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("Cancel"));
        return box.exec() != QMessageBox::Cancel;
    };
}

void TDBGrid3D::setSongModel(SongTableModel* model) {
    model_ = model;
    setModel(model);
    setColumnWidth(SongTableModel::TitleColumn, 252);
    setColumnWidth(SongTableModel::KeysColumn, 83);
    setColumnWidth(SongTableModel::UrlColumn, 400);
    connect(model, &QAbstractItemModel::modelReset, this, &TDBGrid3D::makeFirstRowCurrent);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { emit currentRecordChanged(current.isValid() ? current.row() : -1); });
    makeFirstRowCurrent();
}

QList<int> TDBGrid3D::selectedRecords() const {
    QList<int> rows;
    if (!selectionModel()) return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Outside the selection the row is selected alone; inside it the selection
// stays (so the menu acts on all of it) and the row becomes current.
void TDBGrid3D::selectForMenu(const QModelIndex& index) {
    QItemSelectionModel* selection = selectionModel();
    if (!selection) return;
    if (selection->isRowSelected(index.row(), QModelIndex())) {
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    } else {
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

int TDBGrid3D::currentRecord() const {
    QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TDBGrid3D::makeFirstRowCurrent() {
    if (model_ && model_->rowCount() > 0) {
        setCurrentIndex(model_->index(0, 0));
    }
}

void TDBGrid3D::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        const QModelIndex index = indexAt(event->position().toPoint());
        if (index.isValid()) selectForMenu(index);
        emit popupRequested(event->globalPosition().toPoint());
        return;
    }
    QTableView::mousePressEvent(event);
}

void TDBGrid3D::mouseReleaseEvent(QMouseEvent* event) {
    QTableView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid()) {
        emit DBGrid1CellClick();
    }
}

void TDBGrid3D::moveCurrentRecord(int step) {
    if (!model_ || model_->rowCount() == 0) return;
    QModelIndex current = currentIndex();
    int row = current.isValid() ? current.row() + step : 0;
    row = std::clamp(row, 0, model_->rowCount() - 1);
    int column = current.isValid() ? current.column() : 0;
    // The wheel moves the highlight like a click: the new row alone is selected.
    selectionModel()->setCurrentIndex(model_->index(row, column),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TDBGrid3D::wheelEvent(QWheelEvent* event) {
    // One record per wheel message, whatever its size; no other scrolling.
    const int delta = event->angleDelta().y();
    if (delta < 0) moveCurrentRecord(+1);
    else if (delta > 0) moveCurrentRecord(-1);
    event->accept();
}

bool TDBGrid3D::askDelete() { return confirmDelete_ ? confirmDelete_() : true; }

QPoint TDBGrid3D::currentRowMenuPlace() {
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return viewport()->mapToGlobal(QPoint(0, 0));
    scrollTo(current);
    // Below the current cell's left end, kept inside the visible part.
    const QRect cell = visualRect(current).intersected(viewport()->rect());
    return viewport()->mapToGlobal(cell.isValid() ? cell.bottomLeft() : QPoint(0, 0));
}

namespace {

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

// The item view moves the current row without touching the selection when
// Ctrl is held; here a move always selects: the new row alone, or with Shift
// the rows from the anchor. Toggling stays with Ctrl+click and Ctrl+Space.
QItemSelectionModel::SelectionFlags TDBGrid3D::selectionCommand(const QModelIndex& index, const QEvent* event) const {
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

// Home and End go to the first and last record, as Ctrl+Home and Ctrl+End
// do: in a grid of whole rows the row is what the keys are for.
QModelIndex TDBGrid3D::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    if ((action == MoveHome || action == MoveEnd) && model_ && model_->rowCount() > 0) {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        return model_->index(action == MoveHome ? 0 : model_->rowCount() - 1, column);
    }
    return QTableView::moveCursor(action, modifiers);
}

void TDBGrid3D::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    drawCurrentRowMark(*this);
}

void TDBGrid3D::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    updateRowOf(*this, previous);
    updateRowOf(*this, current);
}

void TDBGrid3D::keyPressEvent(QKeyEvent* event) {
    const bool menuKey = event->key() == Qt::Key_Menu;
    const bool shiftF10 = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
    if (menuKey || shiftF10) {
        event->accept();
        // The menu acts on what it shows selected: the current row joins the
        // selection first, as under a right click.
        if (currentIndex().isValid()) selectForMenu(currentIndex());
        emit currentRowPopupRequested(currentRowMenuPlace());
        return;
    }
    if (event->key() == Qt::Key_Delete && (event->modifiers() & Qt::ControlModifier)) {
        event->accept();
        int row = currentRecord();
        if (!model_ || model_->rowCount() == 0 || row < 0) return;
        const std::int64_t record = model_->recordAt(row);
        if (!askDelete()) return;
        // The question's event loop may have re-queried the store (a search
        // page ending): delete the record the user confirmed, wherever it now
        // stands, and nothing when it is gone.
        row = model_->rowOfRecord(record);
        if (row < 0) return;
        // A delete that fails (the file locked, damaged) says nothing; the row stays.
        model_->deleteRow(row);
        return;
    }
    QTableView::keyPressEvent(event);
}

}  // namespace store
