#pragma once
// A download thread of a run: takes the collection's waiting items one after
// another and transfers them; sleeps on its wake event when there is nothing
// to do. Created running; destroying it tells it to end and waits for it.
#include <atomic>
#include <thread>

#include "platform/NamedEvent.h"

namespace dl {

class TDlDownloads;

class TDlProcessDownloadThread {
public:
    explicit TDlProcessDownloadThread(TDlDownloads& downloads);
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

    TDlDownloads& downloads_;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};

}  // namespace dl
