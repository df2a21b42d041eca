#pragma once
// A grid of whole rows, as the program's grids share it: one or several rows
// selected (Ctrl+click, Ctrl+Space, Shift+click, Shift+arrows, Ctrl+A), no
// editing, 13-pixel cells under bold titles on a money-green header, every
// row the same height, the selection still shown when the grid loses focus,
// and the current row framed by a focus mark. Every key that moves the
// current row selects it (with Shift, the rows up to it), so the current row
// is the one the user sees selected. A right click first selects the row
// under the pointer, as file managers do, then asks for the pop-up menu; so
// do the Menu key and Shift+F10 for the current row.
#include <QList>
#include <QTableView>

namespace store {

class RowGridView : public QTableView {
    Q_OBJECT
public:
    explicit RowGridView(QWidget* parent = nullptr);

    // The current row, or -1 when there is none.
    int currentRow() const;
    // The selected rows, top to bottom.
    QList<int> selectedRows() const;

protected:
    enum class MenuFrom { RightClick, Keyboard };
    // The pop-up menu is asked for at `globalPos`; the rows it acts on are
    // selected by then. For a right click below the rows nothing changed.
    virtual void rowMenuAsked(const QPoint& globalPos, MenuFrom from) = 0;

    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;

private:
    void selectForMenu(const QModelIndex& index);
    QPoint currentRowMenuPlace();
};

}  // namespace store
