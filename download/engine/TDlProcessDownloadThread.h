#pragma once
// A download thread of a run: takes the collection's waiting items one after
// another and transfers them with the run's context, then gives each its end
// report and lets it leave the queue when it asks to; sleeps on its wake
// event when there is nothing to do. Created running; destroying it tells it
// to end and waits for it.
#include <atomic>
#include <thread>

#include "platform/NamedEvent.h"

namespace dl {

class TDlDownloadItem;
class TDlDownloads;
class TransferContext;

class TDlProcessDownloadThread {
public:
    TDlProcessDownloadThread(TDlDownloads& downloads, TransferContext& context);
    ~TDlProcessDownloadThread();
    TDlProcessDownloadThread(const TDlProcessDownloadThread&) = delete;
    TDlProcessDownloadThread& operator=(const TDlProcessDownloadThread&) = delete;

    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }

    std::atomic<bool> Finished{false};
    platform::ManualResetEvent WakeEvent{false};
    // The last NextItem call found nothing for this thread.
    std::atomic<bool> Idle{false};

private:
    void Body();
    void TransferItem(TDlDownloadItem& item);

    TDlDownloads& downloads_;
    TransferContext& context_;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};

}  // namespace dl
