#include "app/ListTotals.h"

#include <numeric>

#include <QStringList>

#include "app/DownloadListModel.h"
#include "app/DownloadOutcome.h"

namespace app {

int ListTotals::all() const { return std::accumulate(states.begin(), states.end(), 0); }

QString listTotalsText(const ListTotals& t) {
    if (t.all() == 0) return QStringLiteral("下载列表是空的");
    QStringList parts;
    if (t.finished() > 0) parts << QStringLiteral("已完成 %1 首").arg(t.finished());
    if (t.left() > 0) {
        parts << (t.running() > 0 ? QStringLiteral("还剩 %1 首（正在下载 %2 首）").arg(t.left()).arg(t.running())
                                  : QStringLiteral("还剩 %1 首").arg(t.left()));
    }
    if (t.failed() > 0) parts << QStringLiteral("失败 %1 首").arg(t.failed());
    if (t.stopped() > 0) parts << QStringLiteral("已停止 %1 首").arg(t.stopped());
    QString text = QStringLiteral("共 %1 首：").arg(t.all()) + parts.join(QStringLiteral("，"));
    if (t.running() > 0) {
        text += QStringLiteral("\u3000总速度 ") +
                (t.speed ? readableSize(static_cast<std::int64_t>(*t.speed)) + QStringLiteral("/s")
                         : QString::fromUtf8(DownloadListModel::kNoFigure));
    }
    return text;
}

QString listTabText(const ListTotals& t) {
    if (t.left() == 0) return QStringLiteral("    下载列表       ");
    return QStringLiteral("    下载列表 (%1/%2)   ").arg(t.running()).arg(t.left());
}

}  // namespace app
