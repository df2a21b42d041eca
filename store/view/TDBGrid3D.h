#pragma once
// The results grid, a grid of whole rows (see RowGridView) over the song
// store: Tab moves between its columns, the wheel steps the current record
// by one (selecting it, as the keys do), Ctrl+Delete deletes the current
// record after asking, and the pop-up menu is asked for by signals.
//
// A click on a column title sorts by that column, a second reverses, a third
// goes back to the store's order; the titles' own menu (a right click on
// them) sorts by a link's verdict, bit rate, length or size too.
#include <cstdint>
#include <functional>

#include "store/SongOrderIndex.h"

#include "store/view/RowGridView.h"

class QMenu;

namespace store {

class SongTableModel;

class TDBGrid3D : public RowGridView {
    Q_OBJECT
public:
    explicit TDBGrid3D(QWidget* parent = nullptr);

    void setSongModel(SongTableModel* model);
    SongTableModel* songModel() const { return model_; }

    // What a click on the title of `section` does to the sort: by that
    // column, reversed, then the store's order again.
    void titleClicked(int section);
    // Sorts the rows and shows which way on the titles.
    void sortBy(SortOrder order);
    // The titles' menu, for the sort in force.
    void fillSortMenu(QMenu& menu);

    // Asks "Delete record?"; true unless the answer is Cancel. Replaceable for tests.
    void setDeleteConfirmer(std::function<bool()> confirmer) { confirmDelete_ = std::move(confirmer); }

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
    void rowMenuAsked(const QPoint& globalPos, MenuFrom from) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void moveCurrentRecord(int step);
    void makeFirstRowCurrent();
    void showSortIndicator();
    bool askDelete();

    SongTableModel* model_ = nullptr;
    // The current row's record before a reset: a new sort keeps it current.
    std::int64_t keptRecord_ = 0;
    std::function<bool()> confirmDelete_;
};

}  // namespace store
