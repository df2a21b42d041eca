#pragma once
// One URL of a download collection: what was asked (ItemRequest), how its
// transfer stands with the bytes received (ItemProgress), and the handles
// that a stop closes (ItemHandles). It has a few operations of its own; the
// transfer (ItemTransfer.h) works on it, and knows nothing of the collection
// it is in. What became of a transfer is its TransferOutcome, not the item.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "download/engine/ItemData.h"
#include "download/engine/ItemHandles.h"
#include "download/engine/ItemProgress.h"
#include "download/engine/ItemRequest.h"
#include "download/texts/DownloadErrors.h"

namespace dl {

class TDlDownloadItem {
public:
    TDlDownloadItem() = default;
    ~TDlDownloadItem();
    TDlDownloadItem(const TDlDownloadItem&) = delete;
    TDlDownloadItem& operator=(const TDlDownloadItem&) = delete;

    // Copies the request settings of `source` (not its state or data).
    void Assign(const TDlDownloadItem& source);

    void FailItem(std::int32_t code, const std::string& text);
    // With the code's own text (InternetErrorText).
    void FailItem(DownloadError code);
    // Back to waiting, for the start of a run.
    void ResetItem();
    // Back to waiting for another attempt in the same run: the answer of the
    // last one forgotten, but Size as it was and Percent as the bytes held
    // made it, so the song's figures go back only when the song starts over.
    void ResetForAnotherAttempt(std::int32_t percentHeld);
    // Interrupts a running transfer: marks it stopped and closes its handles,
    // so the call the download thread is blocked in returns, and ends a pause
    // before another attempt. Any thread.
    void AbortItem();
    // Stops this item alone, whether it is running or still waiting for a
    // download thread: a transfer that has not begun ends as stopped as soon
    // as it does. For good: nothing makes the item go again. Any thread.
    void Cancel();
    // Waits `pause` unless the item is stopped meanwhile (AbortItem, Cancel);
    // true when it was.
    bool PauseUnlessStopped(std::chrono::milliseconds pause);
    // Empties the data; Size becomes 0. Returns the data it held, moved, not
    // copied: dropped at once, an unnamed part file goes.
    ItemData ReleaseData();

    void SetLink(TDlHTMLLink* link) { Request.Link = link; }
    void SetCheckOnly(bool value) { Request.CheckOnly = value; }
    void SetIsLink(bool value) { Request.IsLink = value; }
    // The item owns its page; the one replaced goes with its last owner.
    void SetPageDocument(std::shared_ptr<TDlHTMLObject> document) { Progress.PageDocument = std::move(document); }
    void SetUserName(const std::string& value) { Request.UserName = value; }
    void SetPassword(const std::string& value) { Request.Password = value; }
    void SetLocalFileName(const std::string& value) { Request.LocalFileName = value; }

    // The handles of a running transfer: open only during it, kept here so
    // that AbortItem can close them. A handle kept after the item was stopped
    // is closed at once.
    std::shared_ptr<inet::Session> InternetHandle() const { return handles_.Session(); }
    std::shared_ptr<inet::Connection> ConnectionHandle() const { return handles_.Connection(); }
    void SetInternetHandle(std::shared_ptr<inet::Session> handle) { handles_.SetSession(std::move(handle)); }
    void SetConnectionHandle(std::shared_ptr<inet::Connection> handle) { handles_.SetConnection(std::move(handle)); }
    // Closes and forgets both.
    void CloseHandles() { handles_.Close(); }

    // The transfer is to end at its next check.
    bool Stopped() const { return handles_.Stopped(); }
    void SetStopped(bool value) { handles_.SetStopped(value); }
    // Cancel was called: every transfer of the item ends as stopped.
    bool CancelRequested() const { return handles_.CancelRequested(); }

    // What was asked: set before the item is handed to a download thread.
    ItemRequest Request;
    // How its transfer stands.
    ItemProgress Progress;

private:
    ItemHandles handles_;
};

}  // namespace dl
