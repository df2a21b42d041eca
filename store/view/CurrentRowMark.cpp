#include "store/view/CurrentRowMark.h"

#include <QHeaderView>
#include <QPainter>
#include <QTableView>

namespace store {

void drawCurrentRowMark(QTableView& view) {
    const QModelIndex current = view.currentIndex();
    QAbstractItemModel* model = view.model();
    if (!current.isValid() || !model || model->columnCount() == 0) return;
    const int row = current.row();
    const QHeaderView* columns = view.horizontalHeader();
    const int left = columns->sectionViewportPosition(columns->logicalIndex(0));
    const int lastColumn = columns->logicalIndex(columns->count() - 1);
    const int right = columns->sectionViewportPosition(lastColumn) + columns->sectionSize(lastColumn) - 1;
    const int top = view.rowViewportPosition(row);
    const QRect frame = QRect(QPoint(left, top), QPoint(right, top + view.rowHeight(row) - 1))
                            .adjusted(0, 0, -1, -1);  // inside the grid lines
    if (!frame.isValid() || !frame.intersects(view.viewport()->rect())) return;

    QPainter painter(view.viewport());
    // Light under dark dots: one of the two always stands out.
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRect(frame);
    QPen dots(Qt::black, 1, Qt::DotLine);
    painter.setPen(dots);
    painter.drawRect(frame);
}

void updateRowOf(QTableView& view, const QModelIndex& index) {
    if (!index.isValid()) return;
    const int top = view.rowViewportPosition(index.row());
    view.viewport()->update(QRect(0, top, view.viewport()->width(), view.rowHeight(index.row())));
}

}  // namespace store
