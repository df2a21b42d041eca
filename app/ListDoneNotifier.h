#pragma once
// Tells the desktop when the downloads list has run empty after a batch:
// a batch runs from the list leaving idle to it being idle again, nothing
// waiting or downloading and no add going on. Each song is counted once, by
// how it last ended in the batch: finished ("已完成", a web page saved in its
// place too) or failed; stopped and removed songs are not counted, and a
// batch with nothing to count is not told. UI thread only.
#include <cstdint>
#include <functional>

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include "store/DownloadListStore.h"

namespace app {

class DownloadList;

class ListDoneNotifier : public QObject {
    Q_OBJECT
public:
    // The list is looked at again this long after its last song ended while
    // an add of many songs is still going on.
    static constexpr int kAddingRecheckMs = 100;

    // Shows a notification's summary and body (DesktopNotifier::notify).
    using Notify = std::function<void(const QString& summary, const QString& body)>;

    // Follows `list` (made before its start), and tells each batch's end with `notify`.
    ListDoneNotifier(DownloadList& list, Notify notify, QObject* parent = nullptr);

    // "下载列表：9 首已完成，1 首失败"; "下载列表：9 首已完成" without failures,
    // "下载列表：1 首失败" without songs finished.
    static QString text(int finished, int failed);
    // The line under it.
    static constexpr const char* kBody = "点击查看下载列表";

    // Batches told so far.
    int told() const { return told_; }

private:
    void onActiveSongs(int count);
    void onSongEnded(std::int64_t id, store::ListState state);
    // The list is idle: the batch ends, unless a song came back meanwhile.
    void settle();

    DownloadList& list_;
    Notify notify_;
    bool inBatch_ = false;
    QSet<std::int64_t> finished_;
    QSet<std::int64_t> failed_;
    // Settles once the handler that emptied the list is over: a song stopped
    // and downloaded again passes through an empty list in one step.
    QTimer settle_;
    int told_ = 0;
};

}  // namespace app
