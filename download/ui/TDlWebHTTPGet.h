#pragma once
// The download component: downloads one URL into a file in a folder. It is a
// thin front over a download collection: it prepares one item, runs it with
// the progress window (Execute) or without (Download), and, through the
// collection's two handlers, applies its limits, names and writes the file,
// and fetches what an HTML answer's page needs beside it (page mode).
// Everything here runs on the UI thread; create and destroy it there.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "download/engine/ItemData.h"
#include "download/component/TDlDownloadParams.h"
#include "download/engine/TDlDownloads.h"
#include "download/engine/TDlInternetOptions.h"
#include "download/html/PageAddresses.h"

class QWidget;

namespace dl {

class TDlHTMLObject;
class TDlWebConfig;
class TDlWebDownload;
class TDlWebHTTPGet;

using TOnDlWebProgress = std::function<void(TDlWebHTTPGet& sender, TDlDownloadItem& item)>;
using TOnDlWebGetFileName =
    std::function<void(TDlWebHTTPGet& sender, TDlDownloadItem& item, std::string& fileName)>;
using TOnCustomizeForm = std::function<void(TDlWebHTTPGet& sender, TDlWebDownload& dlWebDownload)>;
using TDlNotifyEvent = std::function<void(TDlWebHTTPGet& sender)>;
// A step of ExecuteBatch, given the download's place in the batch.
using TDlBatchPrepare = std::function<void(int index)>;
using TDlBatchEnded = std::function<void(int index, bool cancelled)>;

class TDlWebHTTPGet {
public:
    TDlWebHTTPGet();
    // Stops a run still going and waits for it; no handler runs any more.
    virtual ~TDlWebHTTPGet();
    TDlWebHTTPGet(const TDlWebHTTPGet&) = delete;
    TDlWebHTTPGet& operator=(const TDlWebHTTPGet&) = delete;

    // ---- published properties ----
    std::vector<std::string> AcceptTypes;
    std::string URL;
    std::string Caption;  // the progress window's caption; empty keeps "Download"
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
    TOnCustomizeForm OnCustomizeForm;
    // The window downloads are started from: the progress window is kept
    // transient for it (with the window manager, above it and minimized
    // with it). None: the window active when it shows.
    QWidget* ProgressWindowOwner = nullptr;

    // The collection's settings; setting copies them in.
    TDlInternetOptions InternetOptions() const { return downloads_.Options(); }
    void SetInternetOptions(const TDlInternetOptions& options) { downloads_.SetOptions(options); }
    // A shared settings component this one copies from. This program links
    // none, so ApplyWebConfig has nothing to copy.
    TDlWebConfig* WebConfig() const { return webConfig_; }

    // ---- operations ----
    // Downloads with the progress window, modally; returns when the window
    // has closed and the run has ended. True unless the user pressed Cancel.
    bool Execute();
    // Several downloads one after another in one showing of the progress
    // window, each a run of its own. Before each, `prepare(index)` sets URL,
    // DownloadDir, DestinationName and Caption as for Execute; after each
    // that has ended, `ended(index, cancelled)` may read CurrentItem() and
    // Document(). Cancel (or Abort) ends the whole batch: the download it
    // stopped is told as cancelled, the later ones are never started. True
    // unless cancelled.
    bool ExecuteBatch(int count, const TDlBatchPrepare& prepare, const TDlBatchEnded& ended);
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
    // For an owner that is going away during Execute: the download ends as
    // if cancelled, its window closes at once, and Execute returns false as
    // soon as the run has wound down. Nothing when no window is up.
    void Abort();

    // ---- unpublished ----
    TDlDownloads& Downloads() { return downloads_; }
    // The item made by the last preparation; none before the first.
    TDlDownloadItem* CurrentItem() const { return currentItem_; }
    // The last finished download's bytes, until the next preparation: the
    // file it was written to (mapped when first viewed), or, for a page or a
    // download that wrote no file, the bytes in memory.
    const ItemData& Document() const { return document_; }

    // Page mode's bounds for one run: pages are followed into their frames
    // this many levels deep, and a run takes at most this many items.
    static constexpr std::int32_t kMaxFrameDepth = 3;
    static constexpr int kMaxRunItems = 200;

private:
    void HookOwnHandlers();
    void Prepare();
    // How an item of this run keeps its bytes and its limit.
    void SetUpItem(TDlDownloadItem& item) const;
    void ApplyLimits(TDlDownloadItem& item);
    void WriteItem(TDlDownloadItem& item);
    // The path the item's file takes: one no other item of this run has.
    std::string ClaimPath(const TDlDownloadItem& item, const std::string& folder, const std::string& name);
    void LoadPage(TDlDownloadItem& item, const std::string& pageFile, std::string& pageText);
    int AddPageResources(TDlHTMLObject& page, const TDlDownloadItem& pageItem);
    // Shows the progress window modally for `runs` runs of the collection
    // (the first prepared here; `onFinished` starts the others) and ends the
    // run whatever ends the window. True unless cancelled.
    bool ShowProgressWindow(int runs, std::function<void(TDlWebDownload&)> onFinished);
    void FinishRun();

    TDlWebConfig* webConfig_ = nullptr;
    TDlDownloadItem* currentItem_ = nullptr;
    ItemData document_;
    TDlWebDownload* window_ = nullptr;  // the progress window while Execute shows it
    // This run's addresses taken (page mode) and file paths given.
    FetchedAddresses fetched_;
    std::set<std::string> claimedPaths_;
    // Last: it goes first, and with it the run and every handler call.
    TDlDownloads downloads_;
};

}  // namespace dl
