#include "download/component/DownloadComponent.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

#include "download/files/DlFileErrors.h"
#include "download/files/DlFileNames.h"
#include "download/files/DlFileWriting.h"
#include "download/files/PartFile.h"
#include "download/html/TDlHTMLLink.h"
#include "download/html/TDlHTMLObject.h"
#include "download/texts/DlTexts.h"
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

// The name with "_N" put before its extension (or at its end).
std::string numberedName(const std::string& name, int n) {
    const std::size_t slash = name.rfind('/');
    const std::size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > (slash == std::string::npos ? 0 : slash + 1);
    const std::string suffix = "_" + std::to_string(n);
    return hasExtension ? name.substr(0, dot) + suffix + name.substr(dot) : name + suffix;
}

std::string lastElement(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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
    downloads_.Clear();
    fetched_.Clear();
    claimedPaths_.clear();
    TDlDownloadItem& item = downloads_.AddItem();
    currentItem_ = &item;
    item.URL = URL;
    SetUpItem(item);
    // The song continues where it stopped; what its page brings does not.
    item.ContinueTransfer = ContinueDownloads;
    if (!item.SaveFolder.empty())
        item.KeepName = DestinationName.empty() ? DefaultFileName(URL) : SafeDestinationName(DestinationName);
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

void DownloadComponent::SetUpItem(TDlDownloadItem& item) const {
    // The bytes go to their file as they arrive: memory never follows the size.
    item.SaveFolder = DownloadParams.CheckOnly || DownloadDir.empty() ? std::string() : ExpandFolder(DownloadDir);
    // The limit holds for every item of the run, page resources too, on every read.
    item.SizeLimit = DownloadParams.SizeLimit;
}

// ---- the handlers ------------------------------------------------------------

void DownloadComponent::HandleItemProgress(TDlDownloadItem& item) {
    ApplyLimits(item);
    WriteItem(item);
    if (&item == currentItem_ && item.State == dsFinished) document_ = item.ReleaseData();
    if (OnProgress) OnProgress(*this, item);
}

void DownloadComponent::ApplyLimits(TDlDownloadItem& item) {
    if (item.Level < 0) return;
    const std::uint32_t limit = DownloadParams.SizeLimit;
    const TDlItemState state = item.State;
    if (state == dsRunning && item.HeaderPhase) {
        item.SetCheckOnly(DownloadParams.CheckOnly);
        if (limit != 0 && limit < item.Size) {  // the announced length
            item.Stopped = true;
            item.FailItem(kErrSizeLimit);
        }
        if (DownloadParams.Older > 0 && item.Date != 0 && olderThan(item.Date, DownloadParams.Older)) {
            item.Stopped = true;
            item.FailItem(kErrOlded);
        }
    } else if (state == dsRunning) {
        if (limit != 0 && limit < item.Size) {  // the bytes received so far
            item.Stopped = true;
            item.FailItem(kErrSizeLimit);
        }
    } else if (state == dsFinished && !item.CheckOnly && limit != 0 && limit < item.Size) {
        // Progress reports come at most twice a second, so a body that passes
        // the limit between them may reach its end: it fails all the same.
        item.FailItem(kErrSizeLimit);
    }
}

std::string DownloadComponent::ClaimPath(const TDlDownloadItem& item, const std::string& folder,
                                     const std::string& name) {
    std::string path = folder + name;
    // The song the run was asked for keeps its name; what a page brings
    // never takes the name of the page or of another item of the run.
    if (&item != currentItem_) {
        for (int n = 2; claimedPaths_.count(path) > 0; ++n) path = folder + numberedName(name, n);
    }
    claimedPaths_.insert(path);
    return path;
}

void DownloadComponent::WriteItem(TDlDownloadItem& item) {
    if (item.State != dsFinished || DownloadParams.CheckOnly || DownloadDir.empty() || item.ErrorCode != 0 ||
        item.Size == 0)
        return;
    // A file that cannot be written fails its item with a code of its own;
    // an older file of that name stays as it was.
    int error = 0;
    std::optional<DownloadError> refused;
    try {
        const std::string folder = ExpandFolder(DownloadDir);
        std::string name = DefaultFileName(item.URL);
        if (&item == currentItem_ && !DestinationName.empty()) name = SafeDestinationName(DestinationName);
        if (OnGetFileName) OnGetFileName(*this, item, name);
        const bool html = IsHtmlContentType(item.ContentType);
        if (html) name = PageFileName(name);
        refused = RefusedFileName(lastElement(name));
        if (!refused) {
            const std::string path = ClaimPath(item, folder, name);
            if (!item.LocalFileName.empty() && item.LocalFileName != path) {
                std::error_code ignored;
                std::filesystem::remove(item.LocalFileName, ignored);
            }
            error = MakeFolders(std::filesystem::path(path).parent_path().string());
            if (error == 0) {
                if (html && !item.Data.InFile()) {
                    // Page mode: the page is read, its resources join the run,
                    // and it is saved pointing at them.
                    std::string pageText;
                    LoadPage(item, path, pageText);
                    error = WriteFileWhole(path, pageText, item.Date);
                    if (error == 0 && AddPageResources(*item.PageDocument, item) > 0) downloads_.WakeWorkers();
                } else if (item.Data.InFile()) {
                    // Written while it arrived (a page past the memory limit
                    // is saved as it is): it only takes its name.
                    error = item.Data.TakeName(path, item.Date);
                } else {
                    error = WriteFileWhole(path, item.Data.View(), item.Date);
                }
            }
            if (error == 0) {
                // Only a file that is there is named: the page written again at
                // the end of the run points at it, and callers can tell what was saved.
                item.SetLocalFileName(path);
                if (item.Link) {
                    item.Link->setLocalFile(path);
                    item.Link->setLocal(true);
                }
                return;
            }
        }
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
    } catch (...) {
        error = EIO;
    }
    item.FailItem(refused ? *refused : FileErrorOf(error));
    // What it wrote of its file goes.
    if (item.Data.InFile() && !item.Data.Named()) item.Data.Clear();
}

void DownloadComponent::LoadPage(TDlDownloadItem& item, const std::string& pageFile, std::string& pageText) {
    auto page = std::make_shared<TDlHTMLObject>();
    page->loadPage(item.Data.View());
    // Its links lead from where it came from, after redirects.
    page->setBaseUrl(item.ResponseURL.empty() ? item.URL : item.ResponseURL);
    page->setPageFile(pageFile);
    pageText = page->pageText();
    item.SetPageDocument(page);
}

int DownloadComponent::AddPageResources(TDlHTMLObject& page, const TDlDownloadItem& pageItem) {
    // The page itself is fetched already, under both its addresses.
    fetched_.Add(pageItem.URL);
    fetched_.Add(page.baseUrl());
    // A cancelled run fetches nothing more; frames are followed so deep only.
    if (downloads_.StopRequested || pageItem.PageDepth >= kMaxFrameDepth) return 0;
    int added = 0;
    TDlHTMLLinks& links = page.Links();
    try {
        for (std::int32_t i = 0; i < links.count() && downloads_.Count() < kMaxRunItems; ++i) {
            TDlHTMLLink& link = links[i];
            const std::string absolute = page.absoluteUrl(link);
            if (absolute.empty()) continue;
            const TDlHTMLLinkType type = link.LinkType();
            if (type != LT_IMAGE && type != LT_BODY && type != LT_FRAME && type != LT_CLASS) continue;
            // Of several links to one resource only the first is fetched.
            if (page.findLink(absolute) != i) continue;
            if (type == LT_IMAGE && !DownloadParams.LoadImages) continue;
            // Over http and https only, and each address once in a run: a
            // page never has a local file read, nor frames itself for ever.
            if (!fetched_.Claim(absolute)) continue;
            TDlDownloadItem& resource = downloads_.AddItem();
            resource.URL = absolute;
            resource.SetLink(&link);
            resource.SetIsLink(true);
            resource.Level = -1;
            resource.PageDepth = pageItem.PageDepth + 1;
            SetUpItem(resource);
            ++added;
        }
    } catch (const UrlDecodeError&) {
        // A link that cannot be read ends the fetching of the page's
        // resources there; the page itself is still saved.
    }
    return added;
}

void DownloadComponent::HandleAllDone() {
    // Part files of downloads that did not end written go (a finished one
    // whose end report was dropped by a Cancel, too).
    for (int i = 0; i < downloads_.Count(); ++i) {
        ItemData& data = downloads_.Items(i).Data;
        if (data.InFile() && !data.Named()) data.Clear();
    }
    // After a Cancel nothing more is written: the pages saved so far keep
    // their links to the web.
    if (!DownloadParams.CheckOnly && !DownloadDir.empty() && !downloads_.StopRequested) {
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
