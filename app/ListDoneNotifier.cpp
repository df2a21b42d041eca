#include "app/ListDoneNotifier.h"

#include "app/DownloadList.h"

namespace app {

ListDoneNotifier::ListDoneNotifier(DownloadList& list, Notify notify, QObject* parent)
    : QObject(parent), list_(list), notify_(std::move(notify)) {
    settle_.setSingleShot(true);
    connect(&settle_, &QTimer::timeout, this, &ListDoneNotifier::settle);
    connect(&list_, &DownloadList::activeSongsChanged, this, &ListDoneNotifier::onActiveSongs);
    connect(&list_, &DownloadList::songEnded, this, &ListDoneNotifier::onSongEnded);
}

QString ListDoneNotifier::text(int finished, int failed) {
    QString line = QStringLiteral("下载列表：");
    if (finished > 0 || failed == 0) line += QStringLiteral("%1 首已完成").arg(finished);
    if (finished > 0 && failed > 0) line += QStringLiteral("，");
    if (failed > 0) line += QStringLiteral("%1 首失败").arg(failed);
    return line;
}

void ListDoneNotifier::onActiveSongs(int count) {
    if (count > 0) {
        settle_.stop();
        if (!inBatch_) {
            inBatch_ = true;
            finished_.clear();
            failed_.clear();
        }
        return;
    }
    if (inBatch_) settle_.start(0);
}

void ListDoneNotifier::onSongEnded(std::int64_t id, store::ListState state) {
    if (!inBatch_) return;
    finished_.remove(id);
    failed_.remove(id);
    if (state == store::ListState::Finished) finished_.insert(id);
    if (state == store::ListState::Failed) failed_.insert(id);
}

void ListDoneNotifier::settle() {
    if (!inBatch_ || list_.activeSongs() > 0) return;
    // The rest of an add may still come.
    if (list_.adding()) {
        settle_.start(kAddingRecheckMs);
        return;
    }
    inBatch_ = false;
    const int finished = static_cast<int>(finished_.size());
    const int failed = static_cast<int>(failed_.size());
    finished_.clear();
    failed_.clear();
    if (finished + failed == 0) return;
    ++told_;
    if (notify_) notify_(text(finished, failed), QString::fromUtf8(kBody));
}

}  // namespace app
