#include "download/ui/TDlWebHTTPGet.h"

#include <chrono>
#include <filesystem>
#include <memory>

#include <QString>

#include "download/DlFileNames.h"
#include "download/DlFileWriting.h"
#include "download/DlTexts.h"
#include "download/PreparedFile.h"
#include "download/html/TDlHTMLLink.h"
#include "download/html/TDlHTMLObject.h"
#include "download/ui/TDlWebDownload.h"

namespace dl {

namespace {

constexpr std::int32_t kErrorSizeLimit = 8;
constexpr std::int32_t kErrorOlded = 9;
// Downloads announced at this length or more get their file made ready while
// they arrive.
constexpr std::uint32_t kPrepareFrom = std::uint32_t(8) << 20;

std::string joined(const std::vector<std::string>& lines, std::string_view separator) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += separator;
        text += lines[i];
    }
    return text;
}

bool isAsciiAlnum(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// True when the resource's date lies more than `days` before now. Both are
// taken as instants, so a clock change between them counts for nothing.
bool olderThan(TDateTime date, double days) {
    try {
        const double now =
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        return now - static_cast<double>(InstantOfLocalDateTime(date)) > days * 86400.0;
    } catch (const std::exception&) {
        return false;  // a date no clock can show
    }
}

}  // namespace

TDlWebHTTPGet::TDlWebHTTPGet() { HookOwnHandlers(); }

TDlWebHTTPGet::~TDlWebHTTPGet() {
    preparations_.clear();
    downloads_.OnItemProgress = nullptr;
    downloads_.OnAllDone = nullptr;
}

void TDlWebHTTPGet::HookOwnHandlers() {
    downloads_.OnItemProgress = [this](TDlDownloadItem& item) { HandleItemProgress(item); };
    downloads_.OnAllDone = [this](TDlDownloads&) { HandleAllDone(); };
}

void TDlWebHTTPGet::ApplyWebConfig() {
    // No TDlWebConfig is ever linked in this program, so there is nothing to copy.
}

std::string TDlWebHTTPGet::EncodeFormValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::string_view kKept = "!$'()*-.@_";
    std::string encoded;
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (isAsciiAlnum(byte) || kKept.find(c) != std::string_view::npos) {
            encoded += c;
        } else if (c == ' ') {
            encoded += "%20";
        } else {
            // Bytes of 128 and above too: each byte of a UTF-8 character on its own.
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

// ---- running a download ----------------------------------------------------

bool TDlWebHTTPGet::Execute() {
    if (window_) return false;  // one progress window at a time
    downloads_.ResetFinished();
    auto window = std::make_unique<TDlWebDownload>();
    window->Downloads = &downloads_;
    window->OwnerWindow = ProgressWindowOwner;
    if (!Caption.empty()) window->setWindowTitle(QString::fromStdString(Caption));
    if (OnCustomizeForm) OnCustomizeForm(*this, *window);
    window->HookDownloads();
    Download(true, false);
    window_ = window.get();
    // Whatever ends the modal loop, the run is over and the window gone
    // before Execute returns.
    struct Ending {
        TDlWebHTTPGet& self;
        TDlWebDownload& window;
        ~Ending() {
            window.UnhookDownloads();
            self.FinishRun();
            self.window_ = nullptr;
        }
    } ending{*this, *window};
    return window->exec() == 1;
}

bool TDlWebHTTPGet::ExecuteBatch(int count, const TDlBatchPrepare& prepare, const TDlBatchEnded& ended) {
    if (window_ || count < 1) return false;
    int index = 0;
    prepare(index);
    downloads_.ResetFinished();
    auto window = std::make_unique<TDlWebDownload>();
    window->Downloads = &downloads_;
    window->SetRunCount(count);
    window->OwnerWindow = ProgressWindowOwner;
    if (!Caption.empty()) window->setWindowTitle(QString::fromStdString(Caption));
    if (OnCustomizeForm) OnCustomizeForm(*this, *window);
    window->HookDownloads();
    // Announced after each run that was not cancelled, once its manager
    // thread has ended: tell it, then start the next one in the same window.
    window->OnFinished = [&](TDlWebDownload& form) {
        ended(index, false);
        if (++index >= count || !form.isVisible()) {
            form.CloseBtnClick();
            return;
        }
        prepare(index);
        if (!Caption.empty()) form.setWindowTitle(QString::fromStdString(Caption));
        downloads_.ResetFinished();
        Download(true, false);
        form.StartRun();
    };
    Download(true, false);
    window_ = window.get();
    bool finished = false;
    {
        struct Ending {
            TDlWebHTTPGet& self;
            TDlWebDownload& window;
            ~Ending() {
                window.UnhookDownloads();
                self.FinishRun();
                self.window_ = nullptr;
            }
        } ending{*this, *window};
        finished = window->exec() == 1;
    }
    // Cancelled, or closed in the moment between two runs: the download of
    // that moment is told all the same.
    if (index < count) ended(index, !finished);
    return finished;
}

void TDlWebHTTPGet::FinishRun() {
    if (downloads_.RunState != rsFinished) {
        // The window went before its run ended (Abort, or the application
        // ending its event loops). The run is cancelled; a report that still
        // comes, also one from a run only now beginning, stops it, so nothing
        // more is written.
        const auto itemProgress = downloads_.OnItemProgress.get();
        downloads_.OnItemProgress = [this](TDlDownloadItem&) {
            if (!downloads_.Stopping) downloads_.Stop();
        };
        downloads_.Stop();
        downloads_.WaitForRun();
        downloads_.OnItemProgress = itemProgress;
        return;
    }
    downloads_.WaitForRun();
}

void TDlWebHTTPGet::Abort() {
    if (window_) window_->Abandon();
}

bool TDlWebHTTPGet::Download(bool PrepareOnly, bool Asynchronous) {
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

void TDlWebHTTPGet::Prepare() {
    ApplyWebConfig();
    document_.Clear();
    currentItem_ = nullptr;
    preparations_.clear();
    downloads_.Clear();
    TDlDownloadItem& item = downloads_.AddItem();
    currentItem_ = &item;
    item.URL = URL;
    item.AcceptTypes = joined(AcceptTypes, "\r\n");
    item.SetUserName(UserName);
    item.SetPassword(Password);
    if (!PostParams.empty()) {
        item.Method = dmPost;
        std::vector<std::string> fields;
        for (const std::string& line : PostParams) {
            const std::size_t eq = line.find('=');
            fields.push_back(eq == std::string::npos ? line + "="
                                                     : line.substr(0, eq + 1) + EncodeFormValue(line.substr(eq + 1)));
        }
        item.PostData = joined(fields, "&");
    }
    item.Referer = Referer;
}

// ---- the handlers ------------------------------------------------------------

void TDlWebHTTPGet::HandleItemProgress(TDlDownloadItem& item) {
    ApplyLimits(item);
    PrepareLargeFile(item);
    WriteItem(item);
    if (item.State == dsFinished || item.State == dsFailed) preparations_.erase(&item);
    if (&item == currentItem_ && item.State == dsFinished) document_ = item.TakeData();
    if (OnProgress) OnProgress(*this, item);
}

void TDlWebHTTPGet::ApplyLimits(TDlDownloadItem& item) {
    if (item.Level < 0) return;
    const std::uint32_t limit = DownloadParams.SizeLimit;
    const TDlItemState state = item.State;
    if (state == dsRunning && item.HeaderPhase) {
        item.SetCheckOnly(DownloadParams.CheckOnly);
        if (limit != 0 && limit < item.Size) {  // the announced length
            item.Stopped = true;
            item.FailItem(kErrorSizeLimit, kTextSizeLimit);
        }
        if (DownloadParams.Older > 0 && item.Date != 0 && olderThan(item.Date, DownloadParams.Older)) {
            item.Stopped = true;
            item.FailItem(kErrorOlded, kTextUrlIsOlded);
        }
    } else if (state == dsRunning) {
        if (limit != 0 && limit < item.Size) {  // the bytes received so far
            item.Stopped = true;
            item.FailItem(kErrorSizeLimit, kTextSizeLimit);
        }
    } else if (state == dsFinished && !item.CheckOnly && limit != 0 && limit < item.Size) {
        // Progress reports come at most twice a second, so a body that passes
        // the limit between them may reach its end: it fails all the same.
        item.FailItem(kErrorSizeLimit, kTextSizeLimit);
    }
}

// A large download's file is made ready from its first bytes on, so that
// writing it at the end costs little more than the copy (see PreparedFile).
void TDlWebHTTPGet::PrepareLargeFile(TDlDownloadItem& item) {
    if (item.State != dsRunning || item.Stopped || DownloadParams.CheckOnly || DownloadDir.empty()) return;
    if (item.HeaderPhase) {
        // The length is known now; the bytes are counted from the next report on.
        if (item.Size >= kPrepareFrom && !IsHtmlContentType(item.ContentType)) preparations_[&item].length = item.Size;
        return;
    }
    const auto found = preparations_.find(&item);
    if (found == preparations_.end() || found->second.file) return;
    found->second.file = std::make_unique<PreparedFile>(ExpandFolder(DownloadDir), found->second.length, item.Size);
}

bool TDlWebHTTPGet::WriteFile(TDlDownloadItem& item, const std::string& folder, const std::string& path,
                              std::string_view content) {
    const auto found = preparations_.find(&item);
    if (found != preparations_.end() && found->second.file && found->second.file->folder() == folder)
        return found->second.file->TakeName(path, content, item.Date);
    return WriteTextFile(path, content, item.Date);
}

void TDlWebHTTPGet::WriteItem(TDlDownloadItem& item) {
    if (item.State != dsFinished || DownloadParams.CheckOnly || DownloadDir.empty() || item.ErrorCode != 0 ||
        item.Size == 0)
        return;
    // Whatever fails from here on costs the file only: no message, and the
    // handler goes on.
    try {
        const std::string folder = ExpandFolder(DownloadDir);
        std::string name = DefaultFileName(item.URL);
        if (&item == currentItem_ && !DestinationName.empty()) name = SafeDestinationName(DestinationName);
        if (OnGetFileName) OnGetFileName(*this, item, name);
        std::string_view content = item.Data.View();
        std::string pageText;
        if (IsHtmlContentType(item.ContentType)) {
            name = PageFileName(name);
            LoadPage(item, folder + name, pageText);
            content = pageText;
        }
        const std::string path = folder + name;
        if (!item.LocalFileName.empty() && item.LocalFileName != path) {
            std::error_code ignored;
            std::filesystem::remove(item.LocalFileName, ignored);
        }
        ForceFolders(folder);
        if (!WriteFile(item, folder, path, content)) return;
        // Only a file that is there is named: the page written again at the
        // end of the run points at it, and callers can tell what was saved.
        item.SetLocalFileName(path);
        if (item.Link) {
            item.Link->setLocalFile(path);
            item.Link->setLocal(true);
        }
    } catch (...) {
    }
}

void TDlWebHTTPGet::LoadPage(TDlDownloadItem& item, const std::string& pageFile, std::string& pageText) {
    auto page = std::make_shared<TDlHTMLObject>();
    page->loadPage(item.Data.View());
    page->setBaseUrl(item.URL);
    page->setPageFile(pageFile);
    pageText = page->pageText();
    item.SetPageDocument(page);
    if (AddPageResources(*page) > 0) downloads_.WakeWorkers();
}

int TDlWebHTTPGet::AddPageResources(TDlHTMLObject& page) {
    int added = 0;
    TDlHTMLLinks& links = page.Links();
    try {
        for (std::int32_t i = 0; i < links.count(); ++i) {
            TDlHTMLLink& link = links[i];
            const std::string absolute = page.absoluteUrl(link);
            if (absolute.empty()) continue;
            const TDlHTMLLinkType type = link.LinkType();
            if (type != LT_IMAGE && type != LT_BODY && type != LT_FRAME && type != LT_CLASS) continue;
            // Of several links to one resource only the first is fetched.
            if (page.findLink(absolute) != i) continue;
            if (type == LT_IMAGE && !DownloadParams.LoadImages) continue;
            TDlDownloadItem& resource = downloads_.AddItem();
            resource.URL = absolute;
            resource.SetLink(&link);
            resource.SetIsLink(true);
            resource.Level = -1;
            ++added;
        }
    } catch (const UrlDecodeError&) {
        // A link that cannot be read ends the fetching of the page's
        // resources there; the page itself is still saved.
    }
    return added;
}

void TDlWebHTTPGet::HandleAllDone() {
    // Files made ready for downloads that did not finish go.
    preparations_.clear();
    if (!DownloadParams.CheckOnly && !DownloadDir.empty()) {
        for (int i = 0; i < downloads_.Count(); ++i) {
            TDlDownloadItem& item = downloads_.Items(i);
            if (!item.PageDocument || item.LocalFileName.empty()) continue;
            try {
                WriteTextFile(ExpandFolder(item.LocalFileName), item.PageDocument->pageText(), item.Date);
            } catch (...) {
            }
        }
    }
    if (OnProcessed) OnProcessed(*this);
    TDlInternetOptions::HangUpAfterRun(downloads_.Options());
}

}  // namespace dl
