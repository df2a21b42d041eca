#include "download/engine/TDlDownloadItem.h"

#include "download/texts/DlTexts.h"

namespace dl {

TDlDownloadItem::~TDlDownloadItem() { CloseHandles(); }

void TDlDownloadItem::Assign(const TDlDownloadItem& source) {
    if (&source == this) return;
    const ItemRequest& from = source.Request;
    ItemRequest& to = Request;
    to.URL = from.URL;
    to.Name = from.Name.empty() ? from.URL : from.Name;
    to.AcceptTypes = from.AcceptTypes;
    Progress.ContentType = source.Progress.ContentType;
    to.LocalFileName = from.LocalFileName;
    to.Level = from.Level;
    to.Link = from.Link;
    to.PostData = from.PostData;
    to.ExtraHeaders = from.ExtraHeaders;
    to.SendCookies = from.SendCookies;
    Progress.ReceivedCookies = source.Progress.ReceivedCookies;
    to.Referer = from.Referer;
    to.Method = from.Method;
    to.UserName = from.UserName;
    to.Password = from.Password;
    to.CheckOnly = from.CheckOnly;
    to.Reload = from.Reload;
    to.NoRedirect = from.NoRedirect;
    to.Options = from.Options;
    to.RejectTypes = from.RejectTypes;
    to.SetSaveFolder(from.SaveFolder());
    to.SetSizeLimit(from.SizeLimit());
    to.SetContinueTransfer(from.ContinueTransfer());
    to.SetKeepName(from.KeepName());
    to.RemoveWhenDone = from.RemoveWhenDone;
}

void TDlDownloadItem::FailItem(std::int32_t code, const std::string& text) {
    Progress.ErrorMessage = text;
    Progress.ErrorCode = code;
    Progress.State = dsFailed;
}

void TDlDownloadItem::FailItem(DownloadError code) { FailItem(code, InternetErrorText(code)); }

void TDlDownloadItem::ResetItem() {
    CloseHandles();
    Progress.Percent = 0;
    Progress.ErrorCode = 0;
    Progress.Size = 0;
    Progress.ErrorMessage.clear();
    Progress.ContentType.clear();
    Progress.SetResponseURL({});
    SetStopped(false);
    Progress.State = dsWaiting;
    Progress.Data.Clear();
}

void TDlDownloadItem::ResetForAnotherAttempt(std::int32_t percentHeld) {
    CloseHandles();
    Progress.Percent = percentHeld;
    Progress.ErrorCode = 0;
    Progress.ErrorMessage.clear();
    Progress.ContentType.clear();
    Progress.SetResponseURL({});
    Progress.HeaderPhase = false;
    Progress.State = dsWaiting;
    Progress.Data.Clear();
}

void TDlDownloadItem::AbortItem() {
    if (Progress.State != dsRunning) return;
    handles_.Stop();
}

void TDlDownloadItem::Cancel() {
    // First the mark, then the look at the state: a transfer that begins
    // meanwhile sets the state first and looks at the mark after, so one of
    // the two sees the other.
    handles_.RequestCancel();
    AbortItem();
}

bool TDlDownloadItem::PauseUnlessStopped(std::chrono::milliseconds pause) {
    return handles_.PauseUnlessStopped(pause);
}

ItemData TDlDownloadItem::ReleaseData() {
    ItemData released = std::move(Progress.Data);
    Progress.Data.Clear();
    Progress.Size = 0;
    return released;
}

}  // namespace dl
