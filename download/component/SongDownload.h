#pragma once
// One song's download in a collection: the song's item, what an HTML answer
// brings beside it (page mode), and the steps that make their files: the
// limits, the names, the writing, and continuing where the song stopped.
// The download component (one song per run) and the download queue (songs
// added over time, several at once) both download a song through this, so a
// song is written the same way whichever asked for it. Everything here runs
// on the thread the collection reports to.
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "download/component/TDlDownloadParams.h"
#include "download/engine/TDlDownloads.h"
#include "download/engine/TransferOutcome.h"
#include "download/html/PageAddresses.h"

namespace dl {

class TDlHTMLObject;

// What a song is downloaded with.
struct SongSettings {
    // The folder, joined to the file name as it is: end it with a separator.
    // Empty: nothing is written.
    std::string folder;
    // The song's file name; empty: the name made from the URL. Made safe
    // (SafeDestinationName) before it is used.
    std::string name;
    TDlDownloadParams params;
    // The song picks up where it stopped, within a run and across runs
    // (TDlDownloadItem::ContinueTransfer, KeepName).
    bool continuing = true;
    // The song must be MPEG audio: an answer that is not (a web page, an
    // empty body, other bytes) fails with kErrNotAudio and is not saved, and
    // no page mode follows. Whatever its type says, audio is saved as audio.
    bool audioOnly = false;
};

// May change the name a finished item's file takes.
using TOnSongFileName = std::function<void(TDlDownloadItem& item, std::string& fileName)>;

class SongDownload {
public:
    SongDownload(TDlDownloads& downloads, SongSettings settings);
    SongDownload(const SongDownload&) = delete;
    SongDownload& operator=(const SongDownload&) = delete;

    // Adds the song's item to the collection (waiting) and sets it up: where
    // its bytes go, its limit, and the name it continues under.
    TDlDownloadItem& AddSong(const std::string& url);
    TDlDownloadItem* Song() const { return song_; }
    // The song's item first, then what its page brought, in order.
    const std::vector<TDlDownloadItem*>& Items() const { return items_; }
    bool Owns(const TDlDownloadItem& item) const;
    const SongSettings& Settings() const { return settings_; }

    // The per-item handler, for each report of one of its items: the limits,
    // then, once the item has finished, its file; an HTML answer's frames,
    // backgrounds and classes join the collection (and wake its threads).
    void HandleItemProgress(TDlDownloadItem& item);
    // Nothing more of its page is fetched: the song is being stopped.
    void Stop() { stopped_ = true; }
    bool Stopped() const { return stopped_; }
    // Once every item of the song has ended: the part files of items that
    // were not written go, and, unless stopped, each page saved is written
    // again pointing at the copies fetched beside it.
    void Finish(bool stopped);
    // What became of the song, with what its page brought: the run's
    // outcome of its item, with the file written; `stopped` when the user
    // stopped it (or the whole run was).
    TransferOutcome Outcome(bool stopped) const;
    // What became of one item of a song's download: `ended`, its transfer's
    // outcome (none: it never ran, and its code and text say why), with the
    // file written for it.
    static TransferOutcome OutcomeOf(const TDlDownloadItem& item, std::optional<TransferOutcome> ended, bool stopped);

    TOnSongFileName OnGetFileName;

    // Page mode's bounds for one song: pages are followed into their frames
    // this many levels deep, and the collection takes at most this many
    // items for it.
    static constexpr std::int32_t kMaxFrameDepth = 3;
    static constexpr int kMaxItems = 200;

private:
    // How an item of the song keeps its bytes and its limit.
    void SetUpItem(TDlDownloadItem& item) const;
    void ApplyLimits(TDlDownloadItem& item);
    void WriteItem(TDlDownloadItem& item);
    // audioOnly: why the finished song's bytes are not MPEG audio; empty when they are.
    static std::string NotAudioReason(const TDlDownloadItem& item);
    // The path the item's file takes: one no other item of the song has.
    std::string ClaimPath(const TDlDownloadItem& item, const std::string& folder, const std::string& name);
    void LoadPage(TDlDownloadItem& item, const std::string& pageFile, std::string& pageText);
    int AddPageResources(TDlHTMLObject& page, const TDlDownloadItem& pageItem);

    TDlDownloads& downloads_;
    SongSettings settings_;
    TDlDownloadItem* song_ = nullptr;
    std::vector<TDlDownloadItem*> items_;
    // The song's addresses taken (page mode) and file paths given.
    FetchedAddresses fetched_;
    std::set<std::string> claimedPaths_;
    bool stopped_ = false;
};

}  // namespace dl
