#pragma once
// The results grid: whole-row selection, no editing, the wheel steps the
// current record by one, Ctrl+Delete deletes the current record after asking.
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

signals:
    // A left-button release over a data cell; the current row is the clicked one.
    void DBGrid1CellClick();
    // A right click: the pop-up menu's place, in global coordinates.
    void popupRequested(const QPoint& globalPos);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void moveCurrentRecord(int step);
    void makeFirstRowCurrent();
    bool askDelete();

    SongTableModel* model_ = nullptr;
    std::function<bool()> confirmDelete_;
};

}  // namespace store
