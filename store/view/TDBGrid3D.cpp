#include "store/view/TDBGrid3D.h"

#include <algorithm>

#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QWheelEvent>

#include "store/view/SongTableModel.h"

namespace store {

TDBGrid3D::TDBGrid3D(QWidget* parent) : RowGridView(parent) {
    // Tab moves between the columns.
    setTabKeyNavigation(true);

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

void TDBGrid3D::makeFirstRowCurrent() {
    if (model_ && model_->rowCount() > 0) {
        setCurrentIndex(model_->index(0, 0));
    }
}

void TDBGrid3D::rowMenuAsked(const QPoint& globalPos, MenuFrom from) {
    if (from == MenuFrom::RightClick) {
        emit popupRequested(globalPos);
    } else {
        emit currentRowPopupRequested(globalPos);
    }
}

void TDBGrid3D::mouseReleaseEvent(QMouseEvent* event) {
    RowGridView::mouseReleaseEvent(event);
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

void TDBGrid3D::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && (event->modifiers() & Qt::ControlModifier)) {
        event->accept();
        int row = currentRow();
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
    RowGridView::keyPressEvent(event);
}

}  // namespace store
