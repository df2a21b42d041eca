#include "store/view/TDBGrid3D.h"

#include <algorithm>

#include <QActionGroup>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
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
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        // The first rows of a sort may come before the rest: the record
        // kept for them is kept for the rest too.
        if (!model_->resetRearranges()) keptRecord_ = 0;
        else if (keptRecord_ == 0) keptRecord_ = model_->recordAt(currentRow());
    });
    connect(model, &QAbstractItemModel::modelReset, this, &TDBGrid3D::makeFirstRowCurrent);
    QHeaderView* titles = horizontalHeader();
    titles->setSectionsClickable(true);
    titles->setSortIndicatorShown(false);
    connect(titles, &QHeaderView::sectionClicked, this, &TDBGrid3D::titleClicked);
    titles->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(titles, &QWidget::customContextMenuRequested, this, [this, titles](const QPoint& pos) {
        QMenu menu(this);
        fillSortMenu(menu);
        menu.exec(titles->viewport()->mapToGlobal(pos));
    });
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { emit currentRecordChanged(current.isValid() ? current.row() : -1); });
    makeFirstRowCurrent();
}

void TDBGrid3D::makeFirstRowCurrent() {
    if (!model_ || model_->rowCount() == 0) return;
    const int kept = keptRecord_ != 0 ? model_->rowOfRecord(keptRecord_) : -1;
    if (kept >= 0 || model_->orderState() != SongTableModel::OrderState::Arranging) keptRecord_ = 0;
    if (kept >= 0) {
        setCurrentIndex(model_->index(kept, 0));
        scrollTo(model_->index(kept, 0), QAbstractItemView::PositionAtCenter);
        return;
    }
    setCurrentIndex(model_->index(0, 0));
}

namespace {

SortKey keyOfColumn(int section) {
    switch (section) {
    case SongTableModel::TitleColumn: return SortKey::Title;
    case SongTableModel::KeysColumn: return SortKey::Keys;
    case SongTableModel::UrlColumn: return SortKey::Url;
    default: return SortKey::None;
    }
}

int columnOfKey(SortKey key) {
    switch (key) {
    case SortKey::Title: return SongTableModel::TitleColumn;
    case SortKey::Keys: return SongTableModel::KeysColumn;
    case SortKey::Url: return SongTableModel::UrlColumn;
    default: return -1;
    }
}

}  // namespace

void TDBGrid3D::titleClicked(int section) {
    if (!model_) return;
    const SortKey key = keyOfColumn(section);
    if (key == SortKey::None) return;
    const SortOrder now = model_->sortOrder();
    if (now.key != key) sortBy({key, false});
    else if (!now.descending) sortBy({key, true});
    else sortBy({});
}

void TDBGrid3D::sortBy(SortOrder order) {
    if (!model_) return;
    model_->setSort(order);
    showSortIndicator();
}

void TDBGrid3D::showSortIndicator() {
    const SortOrder order = model_->sortOrder();
    const int column = columnOfKey(order.key);
    QHeaderView* titles = horizontalHeader();
    titles->setSortIndicatorShown(column >= 0);
    if (column >= 0) titles->setSortIndicator(column, order.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TDBGrid3D::fillSortMenu(QMenu& menu) {
    if (!model_) return;
    const SortOrder now = model_->sortOrder();
    auto* keys = new QActionGroup(&menu);
    const auto add = [&](const QString& text, SortKey key) {
        QAction* action = menu.addAction(text);
        action->setCheckable(true);
        action->setChecked(now.key == key);
        keys->addAction(action);
        // A key chosen again keeps its direction.
        connect(action, &QAction::triggered, this,
                [this, key, now] { sortBy({key, key == now.key ? now.descending : false}); });
    };
    add(QStringLiteral("按存储顺序"), SortKey::None);
    menu.addSeparator();
    add(QStringLiteral("按歌曲或专辑名称"), SortKey::Title);
    add(QStringLiteral("按搜索关键字"), SortKey::Keys);
    add(QStringLiteral("按下载地址"), SortKey::Url);
    menu.addSeparator();
    add(QStringLiteral("按链接状态（可用在前）"), SortKey::Verdict);
    add(QStringLiteral("按码率"), SortKey::Kbps);
    add(QStringLiteral("按时长"), SortKey::Seconds);
    add(QStringLiteral("按文件大小"), SortKey::Size);
    menu.addSeparator();
    QAction* reversed = menu.addAction(QStringLiteral("倒序"));
    reversed->setCheckable(true);
    reversed->setChecked(now.descending);
    reversed->setEnabled(now.key != SortKey::None);
    connect(reversed, &QAction::triggered, this, [this, now] { sortBy({now.key, !now.descending}); });
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
