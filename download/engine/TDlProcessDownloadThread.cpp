#include "download/engine/TDlProcessDownloadThread.h"

#include <chrono>

#include "download/engine/TDlDownloadItem.h"
#include "download/engine/TDlDownloads.h"

namespace dl {

TDlProcessDownloadThread::TDlProcessDownloadThread(TDlDownloads& downloads) : downloads_(downloads) {
    thread_ = std::thread([this] { Body(); });
}

TDlProcessDownloadThread::~TDlProcessDownloadThread() {
    Terminate();
    WakeEvent.set();
    if (thread_.joinable()) thread_.join();
}

void TDlProcessDownloadThread::Body() {
    try {
        while (!Terminated()) {
            // No time limit: the event or termination wakes it.
            while (WakeEvent.wait(std::chrono::hours(1), [this] { return Terminated(); }) ==
                   platform::WaitResult::Timeout) {
            }
            if (Terminated()) break;
            TDlDownloadItem* item = downloads_.NextItem(*this);
            if (item) {
                if (!item->Stopped) {
                    try {
                        item->Transfer();
                    } catch (...) {
                        // The transfer records its failures in the item.
                    }
                }
                continue;  // the event is still set: straight on to the next item
            }
            // A stopped run hands out nothing more: nothing to wait for.
            if (downloads_.Stopping) break;
            if (!Terminated()) WakeEvent.reset();
        }
    } catch (...) {
    }
    Finished = true;
    downloads_.ThreadEnded();
}

}  // namespace dl
