#include "download/component/DownloadComponent.h"

#include <memory>

#include "download/values/PercentCoding.h"

namespace dl {

namespace {

std::string joined(const std::vector<std::string>& lines, std::string_view separator) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += separator;
        text += lines[i];
    }
    return text;
}

}  // namespace

DownloadComponent::DownloadComponent() { HookOwnHandlers(); }

DownloadComponent::~DownloadComponent() {
    downloads_.OnItemProgress = nullptr;
    downloads_.OnAllDone = nullptr;
}

void DownloadComponent::HookOwnHandlers() {
    downloads_.OnItemProgress = [this](TDlDownloadItem& item) { HandleItemProgress(item); };
    downloads_.OnAllDone = [this](TDlDownloads&) { HandleAllDone(); };
}

void DownloadComponent::ApplyWebConfig() {
    // No TDlWebConfig is ever linked in this program, so there is nothing to copy.
}

std::string DownloadComponent::EncodeFormValue(std::string_view value) {
    // A blank is "%20" like any other byte written as an escape; so are the
    // bytes of 128 and above, each byte of a UTF-8 character on its own.
    return PercentEncode(value, IsFormValueByte);
}

// ---- running a download ----------------------------------------------------

bool DownloadComponent::Download(bool PrepareOnly, bool Asynchronous) {
    if (downloads_.RunState != rsRunning) Prepare();
    if (PrepareOnly) return true;
    if (Asynchronous) {
        downloads_.StartAsync();
        return true;
    }
    // Without handlers nothing is handed to the UI thread during the run, so
    // the calling thread may be the UI thread itself.
    downloads_.OnItemProgress = nullptr;
    downloads_.OnAllDone = nullptr;
    const bool result = downloads_.Run();
    HookOwnHandlers();
    if (currentItem_) HandleItemProgress(*currentItem_);
    HandleAllDone();
    return result;
}

void DownloadComponent::Prepare() {
    ApplyWebConfig();
    document_.Clear();
    currentItem_ = nullptr;
    song_.reset();
    downloads_.Clear();
    SongSettings settings;
    settings.folder = DownloadDir;
    settings.name = DestinationName;
    settings.params = DownloadParams;
    settings.continuing = ContinueDownloads;
    song_ = std::make_unique<SongDownload>(downloads_, std::move(settings));
    song_->OnGetFileName = [this](TDlDownloadItem& item, std::string& name) {
        if (OnGetFileName) OnGetFileName(*this, item, name);
    };
    TDlDownloadItem& item = song_->AddSong(URL);
    currentItem_ = &item;
    item.Request.AcceptTypes = joined(AcceptTypes, "\r\n");
    item.SetUserName(UserName);
    item.SetPassword(Password);
    if (!PostParams.empty()) {
        item.Request.Method = dmPost;
        std::vector<std::string> fields;
        for (const std::string& line : PostParams) {
            const std::size_t eq = line.find('=');
            fields.push_back(eq == std::string::npos ? line + "="
                                                     : line.substr(0, eq + 1) + EncodeFormValue(line.substr(eq + 1)));
        }
        item.Request.PostData = joined(fields, "&");
    }
    item.Request.Referer = Referer;
}

// ---- the handlers ------------------------------------------------------------

void DownloadComponent::HandleItemProgress(TDlDownloadItem& item) {
    if (song_ && song_->Owns(item)) song_->HandleItemProgress(item);
    if (&item == currentItem_ && item.Progress.State == dsFinished) document_ = item.ReleaseData();
    if (OnProgress) OnProgress(*this, item);
}

void DownloadComponent::HandleAllDone() {
    if (song_) song_->Finish(downloads_.StopRequested);
    if (OnProcessed) OnProcessed(*this);
    TDlInternetOptions::HangUpAfterRun(downloads_.Options());
}

std::optional<TransferOutcome> DownloadComponent::CurrentOutcome(bool cancelled) const {
    if (!currentItem_) return std::nullopt;
    return SongDownload::OutcomeOf(*currentItem_, downloads_.OutcomeOf(*currentItem_), cancelled);
}

}  // namespace dl
