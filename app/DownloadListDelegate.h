#pragma once
// Draws the downloads list's cells: 进度 as a bar with the percent on it
// (nothing while the length is not known), every other cell as text.
#include <QStyledItemDelegate>

namespace app {

class DownloadListDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace app
