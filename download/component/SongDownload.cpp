#include "download/component/SongDownload.h"

#include <sys/stat.h>

#include <algorithm>
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
#include "download/probe/MpegAudioVerdict.h"
#include "download/texts/DlTexts.h"

namespace dl {

namespace {

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

std::uint64_t sizeOfFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
}

}  // namespace

TransferOutcome SongDownload::OutcomeOf(const TDlDownloadItem& item, std::optional<TransferOutcome> ended,
                                        bool stopped) {
    TransferOutcome outcome;
    if (ended) {
        outcome = std::move(*ended);
    } else {
        // Never transferred (a run stopped before its turn): what the run
        // recorded in it.
        outcome.state = item.Progress.State;
        outcome.errorCode = item.Progress.ErrorCode;
        outcome.statusCode = item.Progress.StatusCode;
        outcome.message = item.Progress.ErrorMessage;
        outcome.url = item.Request.URL;
        outcome.failure = ClassOfFailure(item.Progress.ErrorCode, item.Progress.StatusCode);
    }
    if (stopped) outcome.failure = FailureClass::UserStopped;
    if (!item.Request.LocalFileName.empty()) {
        outcome.filePath = item.Request.LocalFileName;
        outcome.fileSize = sizeOfFile(item.Request.LocalFileName);
        outcome.savedAsPage = IsHtmlContentType(item.Progress.ContentType);
    }
    return outcome;
}

TransferOutcome SongDownload::Outcome(bool stopped) const {
    TransferOutcome outcome = OutcomeOf(*song_, downloads_.OutcomeOf(*song_), stopped);
    if (settings_.audioOnly) outcome.savedAsPage = false;
    for (std::size_t i = 1; i < items_.size(); ++i)
        outcome.pageItems.push_back(OutcomeOf(*items_[i], downloads_.OutcomeOf(*items_[i]), false));
    return outcome;
}

SongDownload::SongDownload(TDlDownloads& downloads, SongSettings settings)
    : downloads_(downloads), settings_(std::move(settings)) {}

TDlDownloadItem& SongDownload::AddSong(const std::string& url) {
    TDlDownloadItem& item = downloads_.AddItem();
    song_ = &item;
    items_.push_back(&item);
    item.Request.URL = url;
    SetUpItem(item);
    // The song continues where it stopped; what its page brings does not.
    item.Request.SetContinueTransfer(settings_.continuing);
    if (!item.Request.SaveFolder().empty())
        item.Request.SetKeepName(settings_.name.empty() ? DefaultFileName(url) : SafeDestinationName(settings_.name));
    return item;
}

bool SongDownload::Owns(const TDlDownloadItem& item) const {
    return std::find(items_.begin(), items_.end(), &item) != items_.end();
}

void SongDownload::SetUpItem(TDlDownloadItem& item) const {
    const TDlDownloadParams& params = settings_.params;
    // The bytes go to their file as they arrive: memory never follows the size.
    item.Request.SetSaveFolder(params.CheckOnly || settings_.folder.empty() ? std::string()
                                                                            : ExpandFolder(settings_.folder));
    // The limit holds for every item of the song, page resources too, on every read.
    item.Request.SetSizeLimit(params.SizeLimit);
}

void SongDownload::HandleItemProgress(TDlDownloadItem& item) {
    ApplyLimits(item);
    WriteItem(item);
}

void SongDownload::ApplyLimits(TDlDownloadItem& item) {
    if (item.Request.Level < 0) return;
    const TDlDownloadParams& params = settings_.params;
    const std::uint32_t limit = params.SizeLimit;
    const TDlItemState state = item.Progress.State;
    if (state == dsRunning && item.Progress.HeaderPhase) {
        item.SetCheckOnly(params.CheckOnly);
        if (limit != 0 && limit < item.Progress.Size) {  // the announced length
            item.SetStopped(true);
            item.FailItem(kErrSizeLimit);
        }
        if (params.Older > 0 && item.Progress.Date != 0 && olderThan(item.Progress.Date, params.Older)) {
            item.SetStopped(true);
            item.FailItem(kErrTooOld);
        }
    } else if (state == dsRunning) {
        if (limit != 0 && limit < item.Progress.Size) {  // the bytes received so far
            item.SetStopped(true);
            item.FailItem(kErrSizeLimit);
        }
    } else if (state == dsFinished && !item.Request.CheckOnly && limit != 0 && limit < item.Progress.Size) {
        // Progress reports come at most twice a second, so a body that passes
        // the limit between them may reach its end: it fails all the same.
        item.FailItem(kErrSizeLimit);
    }
}

std::string SongDownload::ClaimPath(const TDlDownloadItem& item, const std::string& folder, const std::string& name) {
    std::string path = folder + name;
    // The song keeps its name; what a page brings never takes the name of
    // the page or of another item of the song.
    if (&item != song_) {
        for (int n = 2; claimedPaths_.count(path) > 0; ++n) path = folder + numberedName(name, n);
    }
    claimedPaths_.insert(path);
    return path;
}

std::string SongDownload::NotAudioReason(const TDlDownloadItem& item) {
    // As much as a link's probe reads: the first frames, past a tag.
    constexpr std::size_t kLooked = 16 * 1024;
    const std::uint64_t size = item.Progress.Data.Size();
    probe::AudioVerdict verdict = probe::judgeMpegAudio(item.Progress.Data.ReadAt(0, kLooked), 0, size);
    if (verdict.kind == probe::AudioVerdict::Kind::StartsLater)
        verdict = probe::judgeMpegAudio(item.Progress.Data.ReadAt(verdict.startsAt, kLooked), verdict.startsAt, size);
    if (verdict.kind == probe::AudioVerdict::Kind::Audio) return {};
    return verdict.reason.empty() ? std::string("not MPEG audio") : verdict.reason;
}

void SongDownload::WriteItem(TDlDownloadItem& item) {
    const TDlDownloadParams& params = settings_.params;
    if (&item == song_ && settings_.audioOnly && item.Progress.State == dsFinished && !params.CheckOnly &&
        item.Progress.ErrorCode == 0) {
        const std::string why = NotAudioReason(item);
        if (!why.empty()) {
            item.FailItem(kErrNotAudio, InternetErrorText(kErrNotAudio) + std::string(": ") + why);
            if (item.Progress.Data.InFile() && !item.Progress.Data.Named()) item.Progress.Data.Clear();
            return;
        }
    }
    if (item.Progress.State != dsFinished || params.CheckOnly || settings_.folder.empty() ||
        item.Progress.ErrorCode != 0 || item.Progress.Size == 0)
        return;
    // A file that cannot be written fails its item with a code of its own;
    // an older file of that name stays as it was.
    int error = 0;
    std::optional<DownloadError> refused;
    try {
        const std::string folder = ExpandFolder(settings_.folder);
        std::string name = DefaultFileName(item.Request.URL);
        if (&item == song_ && !settings_.name.empty()) name = SafeDestinationName(settings_.name);
        if (OnGetFileName) OnGetFileName(item, name);
        // A song that had to be audio and is has no page to follow.
        const bool html = IsHtmlContentType(item.Progress.ContentType) && !(&item == song_ && settings_.audioOnly);
        if (html) name = PageFileName(name);
        refused = RefusedFileName(lastElement(name));
        if (!refused) {
            const std::string path = ClaimPath(item, folder, name);
            if (!item.Request.LocalFileName.empty() && item.Request.LocalFileName != path) {
                std::error_code ignored;
                std::filesystem::remove(item.Request.LocalFileName, ignored);
            }
            error = MakeFolders(std::filesystem::path(path).parent_path().string());
            if (error == 0) {
                if (html && !item.Progress.Data.InFile()) {
                    // Page mode: the page is read, its resources join the
                    // collection, and it is saved pointing at them.
                    std::string pageText;
                    LoadPage(item, path, pageText);
                    error = WriteFileWhole(path, pageText, item.Progress.Date);
                    if (error == 0 && AddPageResources(*item.Progress.PageDocument, item) > 0) downloads_.WakeWorkers();
                } else if (item.Progress.Data.InFile()) {
                    // Written while it arrived (a page past the memory limit
                    // is saved as it is): it only takes its name.
                    error = item.Progress.Data.TakeName(path, item.Progress.Date);
                } else {
                    error = WriteFileWhole(path, item.Progress.Data.View(), item.Progress.Date);
                }
            }
            if (error == 0) {
                // Only a file that is there is named: the page written again
                // at the end points at it, and callers can tell what was saved.
                item.SetLocalFileName(path);
                if (item.Request.Link) {
                    item.Request.Link->setLocalFile(path);
                    item.Request.Link->setLocal(true);
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
    if (item.Progress.Data.InFile() && !item.Progress.Data.Named()) item.Progress.Data.Clear();
}

void SongDownload::LoadPage(TDlDownloadItem& item, const std::string& pageFile, std::string& pageText) {
    auto page = std::make_shared<TDlHTMLObject>();
    page->loadPage(item.Progress.Data.View());
    // Its links lead from where it came from, after redirects.
    page->setBaseUrl(item.Progress.ResponseURL().empty() ? item.Request.URL : item.Progress.ResponseURL());
    page->setPageFile(pageFile);
    pageText = page->pageText();
    item.SetPageDocument(page);
}

int SongDownload::AddPageResources(TDlHTMLObject& page, const TDlDownloadItem& pageItem) {
    // The page itself is fetched already, under both its addresses.
    fetched_.Add(pageItem.Request.URL);
    fetched_.Add(page.baseUrl());
    // A stopped song fetches nothing more; frames are followed so deep only.
    if (stopped_ || downloads_.StopRequested || pageItem.Request.PageDepth() >= kMaxFrameDepth) return 0;
    int added = 0;
    TDlHTMLLinks& links = page.Links();
    try {
        for (std::int32_t i = 0; i < links.count() && static_cast<int>(items_.size()) < kMaxItems; ++i) {
            TDlHTMLLink& link = links[i];
            const std::string absolute = page.absoluteUrl(link);
            if (absolute.empty()) continue;
            const TDlHTMLLinkType type = link.LinkType();
            if (type != LT_IMAGE && type != LT_BODY && type != LT_FRAME && type != LT_CLASS) continue;
            // Of several links to one resource only the first is fetched.
            if (page.findLink(absolute) != i) continue;
            if (type == LT_IMAGE && !settings_.params.LoadImages) continue;
            // Over http and https only, and each address once for the song:
            // a page never has a local file read, nor frames itself for ever.
            if (!fetched_.Claim(absolute)) continue;
            TDlDownloadItem& resource = downloads_.AddItem();
            items_.push_back(&resource);
            resource.Request.URL = absolute;
            resource.SetLink(&link);
            resource.SetIsLink(true);
            resource.Request.Level = -1;
            resource.Request.SetPageDepth(pageItem.Request.PageDepth() + 1);
            SetUpItem(resource);
            ++added;
        }
    } catch (const UrlDecodeError&) {
        // A link that cannot be read ends the fetching of the page's
        // resources there; the page itself is still saved.
    }
    return added;
}

void SongDownload::Finish(bool stopped) {
    // Part files of items that did not end written go (a finished one whose
    // end report was dropped by a stop, too).
    for (TDlDownloadItem* item : items_) {
        if (item->Progress.Data.InFile() && !item->Progress.Data.Named()) item->Progress.Data.Clear();
    }
    // After a stop nothing more is written: the pages saved so far keep
    // their links to the web.
    if (stopped || stopped_ || settings_.params.CheckOnly || settings_.folder.empty()) return;
    for (TDlDownloadItem* item : items_) {
        if (!item->Progress.PageDocument || item->Request.LocalFileName.empty()) continue;
        try {
            WriteTextFile(ExpandFolder(item->Request.LocalFileName), item->Progress.PageDocument->pageText(),
                          item->Progress.Date);
        } catch (...) {
        }
    }
}

}  // namespace dl
