#include "app/DownloadListDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

#include "app/DownloadListModel.h"

namespace app {

void DownloadListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    const QVariant percent = index.data(DownloadListModel::PercentRole);
    if (!percent.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The cell's own background (a selected row stays marked), then the bar.
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    cell.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    QStyleOptionProgressBar bar;
    bar.initFrom(widget);
    bar.rect = option.rect.adjusted(2, 2, -2, -2);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = percent.toInt();
    bar.text = QStringLiteral("%1%").arg(bar.progress);
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    bar.state |= QStyle::State_Horizontal;
    bar.fontMetrics = option.fontMetrics;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

}  // namespace app
