#pragma once
// The focus mark of a grid's current row: a dotted frame round the whole
// row, seen on a selected row and on a plain one alike.
class QModelIndex;
class QTableView;

namespace store {

// Draws the mark on the view's viewport; call after the view has painted.
void drawCurrentRowMark(QTableView& view);
// Repaints the whole row of `index`, mark included (an item view repaints
// only the current cell when the current row moves).
void updateRowOf(QTableView& view, const QModelIndex& index);

}  // namespace store
