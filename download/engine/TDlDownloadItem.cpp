#include "download/engine/TDlDownloadItem.h"

#include "download/inet/InetConnection.h"
#include "download/inet/InetSession.h"
#include "download/texts/DlTexts.h"

namespace dl {

TDlDownloadItem::~TDlDownloadItem() { CloseHandles(); }

void TDlDownloadItem::Assign(const TDlDownloadItem& source) {
    if (&source == this) return;
    URL = source.URL;
    Name = source.Name.empty() ? source.URL : source.Name;
    AcceptTypes = source.AcceptTypes;
    ContentType = source.ContentType;
    LocalFileName = source.LocalFileName;
    Level = source.Level;
    Link = source.Link;
    PostData = source.PostData;
    ExtraHeaders = source.ExtraHeaders;
    SendCookies = source.SendCookies;
    ReceivedCookies = source.ReceivedCookies;
    Referer = source.Referer;
    Method = source.Method;
    UserName = source.UserName;
    Password = source.Password;
    CheckOnly = source.CheckOnly;
    Reload = source.Reload;
    NoRedirect = source.NoRedirect;
    Options = source.Options;
    RejectTypes = source.RejectTypes;
    SaveFolder = source.SaveFolder;
    SizeLimit = source.SizeLimit;
    ContinueTransfer = source.ContinueTransfer;
    KeepName = source.KeepName;
    RemoveWhenDone = source.RemoveWhenDone;
}

void TDlDownloadItem::FailItem(std::int32_t code, const std::string& text) {
    ErrorMessage = text;
    ErrorCode = code;
    State = dsFailed;
}

void TDlDownloadItem::FailItem(DownloadError code) { FailItem(code, InternetErrorText(code)); }

void TDlDownloadItem::ResetItem() {
    CloseHandles();
    Percent = 0;
    ErrorCode = 0;
    Size = 0;
    ErrorMessage.clear();
    ContentType.clear();
    ResponseURL.clear();
    Stopped = false;
    State = dsWaiting;
    Data.Clear();
}

void TDlDownloadItem::ResetForAnotherAttempt(std::int32_t percentHeld) {
    CloseHandles();
    Percent = percentHeld;
    ErrorCode = 0;
    ErrorMessage.clear();
    ContentType.clear();
    ResponseURL.clear();
    HeaderPhase = false;
    State = dsWaiting;
    Data.Clear();
}

void TDlDownloadItem::AbortItem() {
    if (State != dsRunning) return;
    Stopped = true;
    CloseHandles();
    std::lock_guard lock(handleMutex_);
    stopped_.notify_all();
}

void TDlDownloadItem::Cancel() {
    // First the mark, then the look at the state: a transfer that begins
    // meanwhile sets the state first and looks at the mark after, so one of
    // the two sees the other.
    CancelRequested = true;
    AbortItem();
}

bool TDlDownloadItem::PauseUnlessStopped(std::chrono::milliseconds pause) {
    std::unique_lock lock(handleMutex_);
    return stopped_.wait_for(lock, pause, [this] { return Stopped.load(); });
}

ItemData TDlDownloadItem::ReleaseData() {
    ItemData released = std::move(Data);
    Data.Clear();
    Size = 0;
    return released;
}

std::shared_ptr<inet::Session> TDlDownloadItem::InternetHandle() const {
    std::lock_guard lock(handleMutex_);
    return internetHandle_;
}

std::shared_ptr<inet::Connection> TDlDownloadItem::ConnectionHandle() const {
    std::lock_guard lock(handleMutex_);
    return connectionHandle_;
}

void TDlDownloadItem::SetInternetHandle(std::shared_ptr<inet::Session> handle) {
    std::lock_guard lock(handleMutex_);
    internetHandle_ = std::move(handle);
    // AbortItem sets Stopped before it takes the lock: either it sees the
    // handle, or the handle sees Stopped.
    if (Stopped && internetHandle_) internetHandle_->close();
}

void TDlDownloadItem::SetConnectionHandle(std::shared_ptr<inet::Connection> handle) {
    std::lock_guard lock(handleMutex_);
    connectionHandle_ = std::move(handle);
    if (Stopped && connectionHandle_) connectionHandle_->close();
}

void TDlDownloadItem::CloseHandles() {
    std::lock_guard lock(handleMutex_);
    if (connectionHandle_) connectionHandle_->close();
    connectionHandle_.reset();
    if (internetHandle_) internetHandle_->close();
    internetHandle_.reset();
}

}  // namespace dl
