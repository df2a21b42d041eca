#pragma once
// The results grid's filter: a small bar over the bottom of the grid with
// an entry and the count line ("显示 N 首（共 M 首）"). Hidden until it is
// opened (Ctrl+F); every change of the text filters the grid's rows at once.
// Esc clears the text, and on an empty entry closes the bar and gives the
// grid the focus back; Enter and Down go to the grid. It covers the grid's
// bottom rows while open and moves nothing else.
#include <QFrame>

class QLabel;
class QLineEdit;

namespace store {

class SongTableModel;
class TDBGrid3D;

class SongFilterBar : public QFrame {
    Q_OBJECT
public:
    static constexpr int kHeight = 24;

    // Lies over `grid`, which it filters through `model`; both outlive it.
    SongFilterBar(TDBGrid3D& grid, SongTableModel& model);

    // Shows the bar with the focus in its entry, the text selected.
    void open();
    QLineEdit* entry() const { return entry_; }
    // The count line as shown.
    QString countText() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();
    void showCount();
    void closeBar();

    TDBGrid3D& grid_;
    SongTableModel& model_;
    QLineEdit* entry_ = nullptr;
    QLabel* count_ = nullptr;
};

// The count line for what `model`'s filter shows now.
QString filterCountText(const SongTableModel& model);

}  // namespace store
