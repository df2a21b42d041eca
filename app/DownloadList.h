#pragma once
// The downloads list: songs added from the results grid, downloaded in the
// background two at a time while the user searches, browses and uses the
// modal commands; kept in the store file (table downloadlist) across runs.
// It owns the list's store, its model and its downloader, and acts for the
// list page's menu. UI thread only.
//
// A row read back is used only as far as the list could have written it
// (see ListRowTrust): any other is shown stopped, and can only be removed.
// One program at a time runs the list of a store file (see ListRunLock);
// another one on the same file shows the list and leaves it alone.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include "app/DownloadListModel.h"
#include "app/ListDownloader.h"
#include "app/ListRowIndex.h"
#include "app/ListRunLock.h"
#include "app/ListSettings.h"
#include "app/NextLinkFinder.h"
#include "store/DownloadListStore.h"

class QUrl;

namespace app {

class FinishedSongRecorder;

class DownloadList : public QObject {
    Q_OBJECT
public:
    // Songs downloading at once until the settings say otherwise.
    static constexpr int kAtATime = ListSettings::kDefaultAtATime;

    struct Song {
        QString title;
        QString url;
    };
    struct Added {
        int added = 0;
        int alreadyThere = 0;  // waiting or downloading already, to the same file
        int alreadyDone = 0;   // finished already, its file still the one the list saved
        int withoutUrl = 0;
        int notWebAddress = 0;  // neither http nor https
    };
    // Shown for a row read from the store that the list could not have written.
    static constexpr const char* kUntrustedReason = "下载列表中的这一行不可信，已忽略";
    // At most this many such rows get a log line of their own; the rest one in all.
    static constexpr int kUntrustedLinesTold = 20;

    // The list kept in the store file at `storePath`, downloading into
    // `folder` (a folder of the working directory, ending in "/"); `log`
    // appends a line to the window's log.
    DownloadList(const std::string& storePath, std::string folder, std::unique_ptr<ListDownloader> downloader,
                 std::function<void(const QString&)> log, QObject* parent = nullptr,
                 std::chrono::milliseconds storeBusyWait = store::DownloadListStore::kBusyWait);
    ~DownloadList() override;

    DownloadListModel& model() { return model_; }
    store::DownloadListStore& listStore() { return *store_; }

    // Shows the kept list: songs that were waiting or downloading are
    // waiting again and start by themselves, continuing what is kept. Says
    // once in the log when the file cannot keep the list, and for each row
    // it does not trust.
    void start();

    // Whether another program runs this store's list: this one then only
    // shows it.
    bool runByOther() const { return runByOther_; }
    // The row of the song the list is fetching (waiting or downloading) from
    // `url` to the file `fileName` names in `folder`, or -1.
    int rowFetching(const std::string& url, const std::string& folder, const std::string& fileName) const;

    // Above this many songs 加入下载列表 asks first.
    static constexpr std::size_t kAskAbove = 1000;
    // A slice of a long add keeps the UI thread at most about this long.
    static constexpr int kSliceMs = 8;

    // Adds each song (but one waiting or downloading already to the same
    // file, or finished there with its file as the list saved it) and
    // starts it when its turn comes; logs what was added. All at once.
    Added add(const QList<Song>& songs);
    // The i-th song of an add, read when its turn comes.
    using SongAt = std::function<Song(std::size_t index)>;
    // The same for `count` songs, a slice of about kSliceMs at a time on the
    // UI thread, so that the window is repainted and a signal to end is
    // heard between slices; the first slice runs at once. `done` is told
    // what was added once the last song is in, after the log line. Adds
    // follow one another in the order given; closing the list ends them.
    void add(std::size_t count, SongAt songAt, std::function<void(const Added&)> done = {});
    // Whether an add of many songs is still going on.
    bool adding() const { return !jobs_.empty(); }
    // The menu's commands, for rows of the model. Rows a command does not
    // apply to are skipped.
    void stop(const QList<int>& rows);
    void restart(const QList<int>& rows);
    void remove(const QList<int>& rows);
    // 优先下载: the waiting songs of these rows start before every other
    // waiting song, in the order of the rows.
    void moveToFront(const QList<int>& rows);
    void openSong(int row);
    void openFolder(int row);

    // Whether a command applies to a row: a finished song can be opened; a
    // waiting or downloading one stopped; any other downloaded again. A row
    // not trusted can only be removed; when another program runs the list,
    // rows can only be opened.
    bool canOpen(int row) const;
    bool canOpenFolder(int row) const;
    bool canStop(int row) const;
    bool canRestart(int row) const;
    bool canRemove(int row) const;
    // A song waiting for its place (not one waiting for its next link).
    bool canMoveToFront(int row) const;

    // The list's settings (下载设置), applied at once: more songs at a time
    // start waiting songs now, fewer let the running ones end first; the
    // speed limit reaches the running songs too. Not kept here (see
    // ListSettings.h).
    const ListSettings& settings() const { return settings_; }
    void applySettings(const ListSettings& settings);

    // The program is closing: every download ends, and the list stays as
    // it is kept, so the songs start again on the next run.
    void shutdown();

    // The songs this program's list still has to fetch: waiting or
    // downloading (none when another program runs the list).
    int activeSongs() const { return activeSongs_; }

    // Opens a file or a folder with the desktop's program; false when none
    // could. Replaceable for tests.
    void setOpener(std::function<bool(const QUrl&)> opener) { open_ = std::move(opener); }

    // Where a song whose link fails for good finds its next one; none: the
    // song fails there, as a song of one link does. Set before start().
    void setNextLinkFinder(std::unique_ptr<NextLinkFinder> finder);
    // Told of each song that ends (it records the saved ones); none: nobody.
    void setFinishedRecorder(FinishedSongRecorder* recorder) { finished_ = recorder; }

signals:
    // activeSongs() changed: songs were added, loaded, downloaded again,
    // ended, stopped or removed.
    void activeSongsChanged(int count);
    // A waiting or downloading song ended, in `state` (finished, failed or
    // stopped); not told for a row removed.
    void songEnded(std::int64_t id, store::ListState state);

private:
    static bool isActive(store::ListState state);
    bool isRow(int row) const;
    // The ids of the rows a command applies to.
    std::vector<std::int64_t> idsOf(const QList<int>& rows, bool (DownloadList::*applies)(int) const) const;
    void enqueue(const store::ListEntry& entry);
    void change(const store::ListEntry& entry);
    QString destinationPath(const std::string& fileName) const;
    // The song joins the list, or is counted as not added.
    void addOne(const Song& song, Added& added, std::vector<store::ListEntry>& saves);
    // Whether a finished row's file is still the very one the list saved.
    static bool isItsFinishedFile(const store::ListEntry& entry);
    void logAdded(const Added& added);
    // Runs the first add's next slice; sets the timer for the one after.
    void addSlice();
    // The model's row changes, the index following it.
    void appendRow(const store::ListEntry& entry);
    void updateRow(const store::ListEntry& entry);
    // A row became waiting or downloading, or stopped being so: counted and told.
    void countActivity(bool wasActive, bool active);

    void onStarted(std::int64_t id);
    void onProgress(std::int64_t id, std::int64_t received, std::int64_t total);
    void onRetryWait(std::int64_t id, std::chrono::milliseconds pause);
    void onEnded(std::int64_t id, const DownloadOutcome& outcome, std::int64_t received, std::int64_t total);
    // A song's link failed for good: it asks for its next one.
    bool moveOn(store::ListEntry entry, const DownloadOutcome& outcome);
    void onNextLink(const NextLinkFinder::Found& found);
    void tellProblem(const std::string& problem);
    void tellResumed();
    void tellUntrusted(const store::ListEntry& entry);
    bool isTrusted(std::int64_t id) const;

    // Absolute, ending in "/".
    const std::string folder_;
    std::function<void(const QString&)> log_;
    std::function<bool(const QUrl&)> open_;
    DownloadListModel model_;
    // Taken before the store is read, held while the list lives.
    ListRunLock runLock_;
    const bool runByOther_;
    std::unique_ptr<store::DownloadListStore> store_;
    std::unique_ptr<ListDownloader> downloader_;
    std::unique_ptr<NextLinkFinder> nextLinks_;
    FinishedSongRecorder* finished_ = nullptr;
    // The links a song has been on in this run of the list, and why each
    // failed; and the last failure, told as it is when no link is left.
    struct LinkTrail {
        std::vector<std::string> tried;
        QStringList failures;
        DownloadOutcome last;
    };
    QHash<std::int64_t, LinkTrail> trails_;
    // Songs waiting for their next link.
    QSet<std::int64_t> switching_;
    // The trusted rows waiting, downloading or finished, by song and file.
    ListRowIndex index_;
    // Adds of many songs, the first one going on.
    struct AddJob {
        std::size_t count = 0;
        SongAt songAt;
        std::size_t next = 0;
        Added added;
        std::function<void(const Added&)> done;
    };
    std::deque<AddJob> jobs_;
    QTimer slices_;
    // Removed from the list while running: their titles, for the log line.
    QHash<std::int64_t, QString> removedTitles_;
    ListSettings settings_;
    bool closed_ = false;
    // Waiting or downloading rows, when this program runs the list.
    int activeSongs_ = 0;
    // The lowest queue place given (or read back): a song moved ahead by
    // 优先下载 gets one lower still.
    std::int64_t frontPlace_ = 0;
    // The log has said that saving stopped (and not yet that it works again).
    bool problemTold_ = false;
};

}  // namespace app
