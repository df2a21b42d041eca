#include "store/view/SongFilterBar.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>

#include "store/view/SongTableModel.h"
#include "store/view/TDBGrid3D.h"

namespace store {

QString filterCountText(const SongTableModel& model) {
    const int total = model.totalRows();
    switch (model.filterState()) {
    case SongTableModel::FilterState::Building: {
        const auto toBuild = model.indexToBuild();
        const auto percent = toBuild > 0 ? model.indexBuilt() * 100 / toBuild : 0;
        return QStringLiteral("正在建立查找索引 %1%（共 %2 首）").arg(percent).arg(total);
    }
    case SongTableModel::FilterState::Searching: return QStringLiteral("正在查找…（共 %1 首）").arg(total);
    case SongTableModel::FilterState::Failed: return QStringLiteral("现在无法查找，请稍后再试（共 %1 首）").arg(total);
    case SongTableModel::FilterState::Off:
    case SongTableModel::FilterState::Shown: break;
    }
    return QStringLiteral("显示 %1 首（共 %2 首）").arg(model.rowCount()).arg(total);
}

SongFilterBar::SongFilterBar(TDBGrid3D& grid, SongTableModel& model)
    : QFrame(&grid), grid_(grid), model_(model) {
    setObjectName(QStringLiteral("FilterBar"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 1, 4, 1);
    layout->setSpacing(6);
    auto* label = new QLabel(QStringLiteral("查找："), this);
    entry_ = new QLineEdit(this);
    entry_->setObjectName(QStringLiteral("FilterEdit"));
    entry_->setPlaceholderText(QStringLiteral("歌名或关键字"));
    entry_->setClearButtonEnabled(true);
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("FilterCount"));
    layout->addWidget(label);
    layout->addWidget(entry_, 1);
    layout->addWidget(count_);
    connect(entry_, &QLineEdit::textChanged, this, [this](const QString& text) { model_.setFilter(text); });
    connect(&model_, &SongTableModel::filterChanged, this, &SongFilterBar::showCount);
    connect(&model_, &QAbstractItemModel::modelReset, this, &SongFilterBar::showCount);
    entry_->installEventFilter(this);
    grid_.installEventFilter(this);
    hide();
}

QString SongFilterBar::countText() const { return count_->text(); }

void SongFilterBar::showCount() { count_->setText(filterCountText(model_)); }

void SongFilterBar::place() {
    // Over the bottom of the rows, above the horizontal scroll bar.
    const QRect rows = grid_.viewport()->geometry();
    setGeometry(rows.left(), rows.bottom() + 1 - kHeight, rows.width(), kHeight);
}

void SongFilterBar::open() {
    place();
    showCount();
    show();
    raise();
    entry_->setFocus(Qt::ShortcutFocusReason);
    entry_->selectAll();
}

void SongFilterBar::closeBar() {
    hide();
    grid_.setFocus(Qt::OtherFocusReason);
}

bool SongFilterBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &grid_ && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)) {
        if (isVisible()) place();
    } else if (watched == entry_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Escape:
            if (entry_->text().isEmpty()) closeBar();
            else entry_->clear();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Down: grid_.setFocus(Qt::OtherFocusReason); return true;
        default: break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

}  // namespace store
