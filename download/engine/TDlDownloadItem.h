#pragma once
// One URL of a download collection: what to fetch and how, the state of its
// transfer, and the bytes received. It is data with a few operations of its
// own; the transfer (ItemTransfer.h) works on it, and knows nothing of the
// collection it is in. Fields written by the item's download thread are read
// by the handlers on the UI thread while that thread waits for them; the few
// that other threads read at any time are atomic.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "download/engine/AttemptsSoFar.h"
#include "download/engine/ItemData.h"
#include "download/engine/TDlCookiesList.h"
#include "download/engine/TDlInternetOptions.h"
#include "download/texts/DownloadErrors.h"
#include "download/values/DlDateTime.h"

namespace inet {
class Connection;
class Session;
}  // namespace inet

namespace dl {

class TDlHTMLLink;
class TDlHTMLObject;

enum TDlItemState : std::uint8_t { dsWaiting = 0, dsRunning = 1, dsFinished = 2, dsFailed = 3 };
enum TDlMethod : std::uint8_t { dmGet = 0, dmPost = 1 };
// The request body: a string as it is, or bytes.
using TDlPostData = std::variant<std::monostate, std::string, std::vector<std::uint8_t>>;

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

    void SetLink(TDlHTMLLink* link) { Link = link; }
    void SetCheckOnly(bool value) { CheckOnly = value; }
    void SetIsLink(bool value) { IsLink = value; }
    // The item owns its page; the one replaced goes with its last owner.
    void SetPageDocument(std::shared_ptr<TDlHTMLObject> document) { PageDocument = std::move(document); }
    void SetUserName(const std::string& value) { UserName = value; }
    void SetPassword(const std::string& value) { Password = value; }
    void SetLocalFileName(const std::string& value) { LocalFileName = value; }

    // The handles of a running transfer: open only during it, kept here so
    // that AbortItem can close them. A handle kept after the item was stopped
    // is closed at once.
    std::shared_ptr<inet::Session> InternetHandle() const;
    std::shared_ptr<inet::Connection> ConnectionHandle() const;
    void SetInternetHandle(std::shared_ptr<inet::Session> handle);
    void SetConnectionHandle(std::shared_ptr<inet::Connection> handle);
    // Closes and forgets both.
    void CloseHandles();

    std::string URL;
    std::int32_t ErrorCode = 0;
    std::atomic<std::int32_t> Percent{0};
    std::string ErrorMessage;
    std::atomic<TDlItemState> State{dsWaiting};
    // The announced length after the headers, then the bytes received so far.
    std::atomic<std::uint32_t> Size{0};
    std::string AcceptTypes;  // one type per line
    std::string ContentType;
    std::int32_t Level = 0;   // 0: made by the component; -1: made from a page link
    TDlHTMLLink* Link = nullptr;  // not owned
    TDlPostData PostData;
    std::string ExtraHeaders;
    TDlMethod Method = dmGet;
    std::string UserName;
    std::string Password;
    bool CheckOnly = false;
    bool IsLink = false;
    TDlInternetOptions Options;  // taken from the collection when the item is handed out
    std::string Name;
    bool Reload = false;
    TDateTime Date = 0;          // Last-Modified; 0 = none
    std::vector<std::string> RejectTypes;
    TDlCookiesList SendCookies;
    TDlCookiesList ReceivedCookies;
    std::string LocalFileName;
    std::shared_ptr<TDlHTMLObject> PageDocument;
    std::string Referer;
    bool RemoveWhenDone = false;
    std::string Location;
    bool StripCookieAttributes = true;
    std::atomic<bool> HeaderPhase{false};
    bool NoRedirect = false;
    // The received bytes: in memory, or in a part file in SaveFolder.
    ItemData Data;
    std::int32_t StatusCode = 0;
    std::atomic<bool> Stopped{false};
    // Cancel was called: every transfer of the item ends as stopped.
    std::atomic<bool> CancelRequested{false};
    // The song's attempts before this item, when it takes up a song whose
    // place was given away during a pause (TransferOutcome::retryIn). Set
    // before the item is handed to a thread.
    std::optional<AttemptsSoFar> CarriedAttempts;
    // During a pause before another attempt that the run tells
    // (AttemptRules::tellPauses): its length; 0 otherwise. Written by the
    // download thread before the report that tells it.
    std::int64_t RetryPauseMs = 0;

    // Where the bytes are written through while they arrive: a part file in
    // this folder (made when missing). Empty: they are held in memory. An
    // HTML answer is held in memory up to kPageInMemoryLimit all the same
    // (page mode reads it), and beyond that goes to the file.
    std::string SaveFolder;
    // 0: none; otherwise more bytes than this, announced or received, fail
    // the item with code 8 at once (checked after every read).
    std::uint32_t SizeLimit = 0;
    // Page mode: how many pages lie between this item and the page the run
    // began with (0 for that page and items not made from a page).
    std::int32_t PageDepth = 0;
    // The address the response came from, after the redirects followed.
    std::string ResponseURL;
    // The transfer picks up where it stopped instead of starting over: when
    // the connection drops, or the server falls silent past the data time
    // limit, after some bytes of the song arrived, it asks for the rest
    // ("Range", "If-Range"), within the item's further attempts in a run
    // (ItemAttempts.h); and with KeepName it continues a part file an
    // earlier run kept for the same URL and name, and keeps its own when it
    // fails or is stopped. Never for a POST, an HTML answer, or anything but
    // http and https.
    bool ContinueTransfer = false;
    // The name (in SaveFolder) the song's file is to take: what a kept part
    // file is matched by. Empty: nothing is kept or continued across runs.
    std::string KeepName;

private:
    mutable std::mutex handleMutex_;
    std::condition_variable stopped_;  // with handleMutex_: AbortItem ends a pause
    std::shared_ptr<inet::Session> internetHandle_;
    std::shared_ptr<inet::Connection> connectionHandle_;
};

}  // namespace dl
