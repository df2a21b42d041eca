#pragma once
// The download component without a window: downloads one URL into a file in
// a folder. It is a thin front over a download collection: it prepares one
// song (SongDownload.h), runs it (Download), and, through the collection's
// two handlers, has the song apply its limits, name and write its file, and
// fetch what an HTML answer's page needs beside it (page mode).
// TDlWebHTTPGet (download/ui) adds the progress window. Everything here runs
// on the thread the collection reports to; create and destroy it there.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/component/SongDownload.h"
#include "download/component/TDlDownloadParams.h"
#include "download/engine/ItemData.h"
#include "download/engine/TDlDownloads.h"
#include "download/engine/TDlInternetOptions.h"

namespace dl {

class DownloadComponent;
class TDlWebConfig;

using TOnDlWebProgress = std::function<void(DownloadComponent& sender, TDlDownloadItem& item)>;
using TOnDlWebGetFileName =
    std::function<void(DownloadComponent& sender, TDlDownloadItem& item, std::string& fileName)>;
using TDlNotifyEvent = std::function<void(DownloadComponent& sender)>;

class DownloadComponent {
public:
    DownloadComponent();
    // Stops a run still going and waits for it; no handler runs any more.
    virtual ~DownloadComponent();
    DownloadComponent(const DownloadComponent&) = delete;
    DownloadComponent& operator=(const DownloadComponent&) = delete;

    // ---- published properties ----
    std::vector<std::string> AcceptTypes;
    std::string URL;
    std::string UserName;
    std::string Password;
    std::string Referer;
    std::vector<std::string> PostParams;  // name=value lines
    // The folder, joined to the file name as it is: end it with a separator.
    std::string DownloadDir;
    // The file name of the prepared item; empty: the name made from the URL.
    std::string DestinationName;
    TDlDownloadParams DownloadParams;
    // The song's download picks up where it stopped: within a run when the
    // line breaks, and across runs from the part file a failed or cancelled
    // download of the same URL to the same name kept (see
    // TDlDownloadItem::ContinueTransfer). On unless turned off.
    bool ContinueDownloads = true;
    TOnDlWebProgress OnProgress;
    TDlNotifyEvent OnProcessed;
    TOnDlWebGetFileName OnGetFileName;

    // The collection's settings; setting copies them in.
    TDlInternetOptions InternetOptions() const { return downloads_.Options(); }
    void SetInternetOptions(const TDlInternetOptions& options) { downloads_.SetOptions(options); }
    // A shared settings component this one copies from. This program links
    // none, so ApplyWebConfig has nothing to copy.
    TDlWebConfig* WebConfig() const { return webConfig_; }

    // ---- operations ----
    // Prepares the item (unless a run is going on); then nothing more, or
    // starts the run on its manager thread, or runs it on this thread.
    bool Download(bool PrepareOnly, bool Asynchronous);
    // Letters, digits and ! $ ' ( ) * - . @ _ stay; a blank becomes "%20";
    // every other byte "%" and two upper-case hexadecimal digits.
    static std::string EncodeFormValue(std::string_view value);
    // Copies the settings of the linked configuration; none is linked here.
    virtual void ApplyWebConfig();
    // The per-item handler: limits, the file, OnProgress.
    void HandleItemProgress(TDlDownloadItem& item);
    // The end-of-run handler: pages written again with their local links,
    // OnProcessed, the dial-up rule.
    void HandleAllDone();

    // ---- unpublished ----
    TDlDownloads& Downloads() { return downloads_; }
    // The item made by the last preparation; none before the first.
    TDlDownloadItem* CurrentItem() const { return currentItem_; }
    // The last finished download's bytes, until the next preparation: the
    // file it was written to (mapped when first viewed), or, for a page or a
    // download that wrote no file, the bytes in memory.
    const ItemData& Document() const { return document_; }
    // What became of CurrentItem in the last run, with the file written for
    // it; none before the first preparation. `cancelled`: the user cancelled it.
    std::optional<TransferOutcome> CurrentOutcome(bool cancelled) const;

    // Page mode's bounds for one run: pages are followed into their frames
    // this many levels deep, and a run takes at most this many items.
    static constexpr std::int32_t kMaxFrameDepth = SongDownload::kMaxFrameDepth;
    static constexpr int kMaxRunItems = SongDownload::kMaxItems;

private:
    void HookOwnHandlers();
    void Prepare();

    TDlWebConfig* webConfig_ = nullptr;
    TDlDownloadItem* currentItem_ = nullptr;
    ItemData document_;
    // The song of this run (none before the first preparation).
    std::unique_ptr<SongDownload> song_;
    // Last: it goes first, and with it the run and every handler call.
    TDlDownloads downloads_;
};

}  // namespace dl
