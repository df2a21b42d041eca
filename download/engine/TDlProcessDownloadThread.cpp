#include "download/engine/TDlProcessDownloadThread.h"

#include <chrono>

#include "download/engine/ItemAttempts.h"
#include "download/engine/TDlDownloadItem.h"
#include "download/engine/TDlDownloads.h"
#include "download/engine/TransferContext.h"

namespace dl {

TDlProcessDownloadThread::TDlProcessDownloadThread(TDlDownloads& downloads, TransferContext& context)
    : downloads_(downloads), context_(context) {
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
                if (!item->Stopped()) TransferItem(*item);
                continue;  // the event is still set: straight on to the next item
            }
            // A stopped run hands out nothing more: nothing to wait for.
            // Otherwise NextItem has reset the wake event.
            if (context_.IsStopping()) break;
        }
    } catch (...) {
    }
    Finished = true;
    downloads_.ThreadEnded();
}

void TDlProcessDownloadThread::TransferItem(TDlDownloadItem& item) {
    try {
        const bool leave = item.Request.RemoveWhenDone;
        // Tried again within the run's rules when it fails for a moment.
        ItemAttempts attempts(context_, downloads_.Attempts, [this] {
            if (downloads_.RunPointHook) downloads_.RunPointHook(2);
        });
        TransferOutcome outcome = attempts.Run(item);
        if (!outcome.ran) return;
        if (!outcome.stopped) {
            // The end report: the component writes the file here, and may
            // fail the item when it cannot.
            context_.Report(item, ItemReport::End);
            if (item.Progress.ErrorCode != outcome.errorCode) {
                outcome.state = item.Progress.State;
                outcome.errorCode = item.Progress.ErrorCode;
                outcome.message = item.Progress.ErrorMessage;
                outcome.failure = ClassOfFailure(item.Progress.ErrorCode, item.Progress.StatusCode);
            }
        }
        // The last word on the item: its owner may let it go from here on.
        downloads_.ItemEnded(item, outcome);
        if (leave) context_.LeaveQueue(item);
    } catch (...) {
        // The transfer records its failures in the item.
    }
}

}  // namespace dl
