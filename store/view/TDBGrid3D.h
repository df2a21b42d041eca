#pragma once
// The results grid: whole-row selection of one or several rows (Ctrl+click,
// Ctrl+Space, Shift+click, Shift+arrows, Ctrl+A), no editing, the wheel steps
// the current record by one, Ctrl+Delete deletes the current record after
// asking, the Menu key and Shift+F10 ask for the pop-up menu of the current
// record. Every key and wheel step that moves the current row selects it (with
// Shift, the rows up to it), so the current row, drawn with a focus mark, is
// the one the user sees selected. A right click first selects the row under
// the pointer, as file managers do.
#include <functional>

#include <QTableView>

namespace store {

class SongTableModel;

class TDBGrid3D : public QTableView {
    Q_OBJECT
public:
    explicit TDBGrid3D(QWidget* parent = nullptr);

    void setSongModel(SongTableModel* model);
    SongTableModel* songModel() const { return model_; }

    // Asks "Delete record?"; true unless the answer is Cancel. Replaceable for tests.
    void setDeleteConfirmer(std::function<bool()> confirmer) { confirmDelete_ = std::move(confirmer); }

    int currentRecord() const;
    // The selected rows, top to bottom.
    QList<int> selectedRecords() const;

signals:
    // A left-button release over a data cell; the current row is the clicked one.
    void DBGrid1CellClick();
    // A right click: the pop-up menu's place, in global coordinates. The
    // row under the pointer is current and selected by then.
    void popupRequested(const QPoint& globalPos);
    // The current row changed, whatever moved it (click, wheel, keys, a
    // re-read); -1 when there is none.
    void currentRecordChanged(int row);
    // The Menu key or Shift+F10: the pop-up menu for the current row, placed
    // at its cell (the grid's corner when there is no current row). The row
    // is selected by then, as a right click selects it.
    void currentRowPopupRequested(const QPoint& globalPos);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;

private:
    void moveCurrentRecord(int step);
    QPoint currentRowMenuPlace();
    void makeFirstRowCurrent();
    void selectForMenu(const QModelIndex& index);
    bool askDelete();

    SongTableModel* model_ = nullptr;
    std::function<bool()> confirmDelete_;
};

}  // namespace store
