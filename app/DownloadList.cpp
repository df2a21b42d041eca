#include "app/DownloadList.h"

#include <algorithm>

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QUrl>

#include "app/FinishedSongRecorder.h"
#include "app/ListRowTrust.h"
#include "download/files/DlFileNames.h"

namespace app {
namespace {

std::string safeName(const QString& name) { return dl::SafeDestinationName(name.toStdString()); }

QString shown(const std::string& text) { return DownloadListModel::shownText(text); }

}  // namespace

DownloadList::DownloadList(const std::string& storePath, std::string folder, std::unique_ptr<ListDownloader> downloader,
                           std::function<void(const QString&)> log, QObject* parent,
                           std::chrono::milliseconds storeBusyWait)
    : QObject(parent),
      folder_(dl::ExpandFolder(folder)),
      log_(std::move(log)),
      open_([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      runLock_(storePath),
      runByOther_(!runLock_.held()),
      store_(std::make_unique<store::DownloadListStore>(storePath, storeBusyWait)),
      downloader_(std::move(downloader)),
      index_(folder_, [this](std::int64_t id) { return model_.find(id); }) {
    // The next slice of a long add, once the events that came meanwhile
    // have had their turn.
    slices_.setSingleShot(true);
    slices_.setInterval(0);
    connect(&slices_, &QTimer::timeout, this, &DownloadList::addSlice);
    ListDownloader::Reports reports;
    reports.started = [this](std::int64_t id) { onStarted(id); };
    reports.progress = [this](std::int64_t id, std::int64_t received, std::int64_t total) {
        onProgress(id, received, total);
    };
    reports.retryWait = [this](std::int64_t id, std::chrono::milliseconds pause) { onRetryWait(id, pause); };
    reports.ended = [this](std::int64_t id, const DownloadOutcome& outcome, std::int64_t received, std::int64_t total) {
        onEnded(id, outcome, received, total);
    };
    downloader_->setReports(std::move(reports));
    // Told on the store's thread; said on the UI thread, unless the list is gone by then.
    store_->SetProblemListener([this](const std::string& problem) {
        QMetaObject::invokeMethod(this, [this, problem] { tellProblem(problem); }, Qt::QueuedConnection);
    });
    store_->SetResumedListener(
        [this] { QMetaObject::invokeMethod(this, [this] { tellResumed(); }, Qt::QueuedConnection); });
}

DownloadList::~DownloadList() {
    shutdown();
    // The store writes what is pending before the model and the log go.
    store_.reset();
}

bool DownloadList::isActive(store::ListState state) {
    return state == store::ListState::Waiting || state == store::ListState::Downloading;
}

void DownloadList::start() {
    std::vector<store::ListEntry> entries = store_->TakeLoaded();
    std::vector<std::pair<std::int64_t, std::int64_t>> again;  // place, id
    std::vector<std::int64_t> distrusted;
    for (store::ListEntry& entry : entries) {
        frontPlace_ = std::min(frontPlace_, entry.queuePlace);
        // Shown as stopped, and left as it is in the file.
        if (!isTrustedRow(entry, folder_)) {
            distrusted.push_back(entry.id);
            entry.state = store::ListState::Stopped;
            entry.reason = kUntrustedReason;
            continue;
        }
        if (!isActive(entry.state) || runByOther_) continue;
        if (entry.state == store::ListState::Downloading) {
            entry.state = store::ListState::Waiting;
            store_->Save(entry);
        }
        again.emplace_back(entry.queuePlace, entry.id);
    }
    // Songs moved ahead first, as they stood in the queue; then the others
    // in the order they were added.
    std::sort(again.begin(), again.end());
    model_.setEntries(std::move(entries));
    activeSongs_ = runByOther_ ? 0 : static_cast<int>(again.size());
    if (activeSongs_ > 0) emit activeSongsChanged(activeSongs_);
    for (std::int64_t id : distrusted) model_.runOf(id)->trusted = false;
    index_.clear();
    for (int row = 0; row < model_.rowCount(); ++row)
        if (isTrusted(model_.entry(row).id)) index_.insert(model_.entry(row));
    if (runByOther_) {
        log_(QStringLiteral("下载列表由另一个 BrelvoMP3 运行：这里只显示它，不下载其中的歌曲，也不改动它。"));
    }
    if (store_->InMemory()) tellProblem(store_->Problem());
    const std::size_t told = std::min<std::size_t>(distrusted.size(), kUntrustedLinesTold);
    for (std::size_t i = 0; i < told; ++i) tellUntrusted(*model_.find(distrusted[i]));
    if (distrusted.size() > told) {
        log_(QStringLiteral("下载列表中另有 %1 行不可信，已忽略。").arg(distrusted.size() - told));
    }
    for (const auto& [place, id] : again)
        if (const store::ListEntry* entry = model_.find(id)) enqueue(*entry);
    if (!again.empty()) log_(QStringLiteral("下载列表中有 %1 首歌曲接着下载。").arg(again.size()));
}

void DownloadList::setNextLinkFinder(std::unique_ptr<NextLinkFinder> finder) {
    nextLinks_ = std::move(finder);
    if (nextLinks_) nextLinks_->setAnswer([this](const NextLinkFinder::Found& found) { onNextLink(found); });
}

void DownloadList::tellProblem(const std::string& problem) {
    if (problemTold_) return;
    problemTold_ = true;
    if (store_->Unusable()) {
        log_(QStringLiteral("下载列表无法保存到歌曲库文件：") + QString::fromStdString(problem) +
             QStringLiteral("。这次运行中的下载列表只保存在内存里。"));
    } else {
        log_(QStringLiteral("下载列表无法保存到歌曲库文件：") + QString::fromStdString(problem) +
             QStringLiteral("。改动先留在内存里，歌曲库文件可以写入时再保存。"));
    }
}

void DownloadList::tellResumed() {
    if (!problemTold_ || store_->InMemory()) return;
    problemTold_ = false;
    log_(QStringLiteral("下载列表又能保存到歌曲库文件了。"));
}

void DownloadList::tellUntrusted(const store::ListEntry& entry) {
    log_(QStringLiteral("《") + shown(entry.title) + QStringLiteral("》：") + QString::fromUtf8(kUntrustedReason));
}

QString DownloadList::destinationPath(const std::string& fileName) const {
    return QString::fromStdString(folder_ + dl::SafeDestinationName(fileName));
}

bool DownloadList::isItsFinishedFile(const store::ListEntry& entry) {
    return hasOpenableExtension(entry.path) && !entry.identity.empty() && fileIdentity(entry.path) == entry.identity;
}

void DownloadList::appendRow(const store::ListEntry& entry) {
    model_.append(entry);
    index_.insert(entry);
    countActivity(false, isActive(entry.state));
}

void DownloadList::updateRow(const store::ListEntry& entry) {
    const store::ListEntry* row = model_.find(entry.id);
    if (!row) return;
    const store::ListEntry before = *row;
    model_.update(entry);
    index_.update(before, *model_.find(entry.id));
    if (isActive(before.state) && !isActive(entry.state) && !runByOther_) emit songEnded(entry.id, entry.state);
    countActivity(isActive(before.state), isActive(entry.state));
}

void DownloadList::countActivity(bool wasActive, bool active) {
    if (runByOther_ || wasActive == active) return;
    activeSongs_ += active ? 1 : -1;
    emit activeSongsChanged(activeSongs_);
}

DownloadList::Added DownloadList::add(const QList<Song>& songs) {
    Added added;
    if (closed_) return added;
    if (runByOther_) {
        if (!songs.isEmpty())
            log_(QStringLiteral("下载列表由另一个 BrelvoMP3 运行，歌曲没有加入。请在那个 BrelvoMP3 中加入。"));
        return added;
    }
    std::vector<store::ListEntry> saves;
    model_.beginAppending();
    for (const Song& song : songs) addOne(song, added, saves);
    model_.endAppending();
    store_->Save(saves);
    logAdded(added);
    return added;
}

void DownloadList::add(std::size_t count, SongAt songAt, std::function<void(const Added&)> done) {
    if (closed_) return;
    if (runByOther_) {
        if (count > 0)
            log_(QStringLiteral("下载列表由另一个 BrelvoMP3 运行，歌曲没有加入。请在那个 BrelvoMP3 中加入。"));
        if (done) done({});
        return;
    }
    AddJob job;
    job.count = count;
    job.songAt = std::move(songAt);
    job.done = std::move(done);
    jobs_.push_back(std::move(job));
    // Behind an add still going on, it waits for its turn.
    if (jobs_.size() == 1) addSlice();
}

void DownloadList::addSlice() {
    if (jobs_.empty()) return;
    QElapsedTimer slice;
    slice.start();
    std::vector<store::ListEntry> saves;
    AddJob& job = jobs_.front();
    const bool first = job.next == 0;
    model_.beginAppending();
    while (job.next < job.count && slice.elapsed() < kSliceMs) addOne(job.songAt(job.next++), job.added, saves);
    model_.endAppending();
    store_->Save(saves);
    if (job.next < job.count) {
        if (first) {
            log_(QStringLiteral("正在把 %1 首歌曲加入下载列表……").arg(job.count));
        }
        slices_.start();
        return;
    }
    const AddJob ended = std::move(jobs_.front());
    jobs_.pop_front();
    logAdded(ended.added);
    if (!jobs_.empty()) slices_.start();
    if (ended.done) ended.done(ended.added);
}

void DownloadList::addOne(const Song& song, Added& added, std::vector<store::ListEntry>& saves) {
    if (song.url.trimmed().isEmpty()) {
        ++added.withoutUrl;
        return;
    }
    const std::string url = song.url.toStdString();
    // The list would not trust such a row when it reads it back.
    if (!isWebAddress(url)) {
        ++added.notWebAddress;
        return;
    }
    const std::string title = song.title.toStdString();
    bool finished = false;
    for (std::int64_t id : index_.songRows(url, safeName(song.title + QStringLiteral(".mp3")))) {
        const store::ListEntry& e = *model_.find(id);
        if (isActive(e.state)) {
            ++added.alreadyThere;
            return;
        }
        // Its file still there as it was written: 重新下载 fetches it again.
        finished = finished || isItsFinishedFile(e);
    }
    if (finished) {
        ++added.alreadyDone;
        return;
    }
    store::ListEntry entry;
    entry.id = store_->NewId();
    entry.title = title;
    entry.url = url;
    entry.folder = folder_;
    // Two songs of one title at once would write one file: the later one
    // gets " (2)", " (3)" ... as a batch of 下载歌曲 does.
    entry.fileName = index_.freeFileName(title);
    entry.state = store::ListState::Waiting;
    entry.path = destinationPath(entry.fileName).toStdString();
    appendRow(entry);
    saves.push_back(entry);
    enqueue(entry);
    ++added.added;
}

void DownloadList::logAdded(const Added& added) {
    QString line;
    const auto part = [&line](const QString& text) {
        line += (line.isEmpty() ? QString() : QStringLiteral("；")) + text;
    };
    if (added.added > 0) line = QStringLiteral("已把 %1 首歌曲加入下载列表").arg(added.added);
    if (added.alreadyThere > 0)
        part(QStringLiteral("%1 首已经在下载列表中等待或下载，没有再加入").arg(added.alreadyThere));
    if (added.alreadyDone > 0) part(QStringLiteral("%1 首已经下载过，没有再加入").arg(added.alreadyDone));
    if (added.withoutUrl > 0) part(QStringLiteral("%1 首没有下载地址，没有加入").arg(added.withoutUrl));
    if (added.notWebAddress > 0)
        part(QStringLiteral("%1 首的地址不是 http 或 https 地址，没有加入").arg(added.notWebAddress));
    if (!line.isEmpty()) log_(line + QStringLiteral("。"));
}

bool DownloadList::isTrusted(std::int64_t id) const {
    const DownloadListModel::RowRun* run = model_.runOf(id);
    return !run || run->trusted;
}

void DownloadList::enqueue(const store::ListEntry& entry) {
    if (DownloadListModel::RowRun* run = model_.runOf(entry.id)) run->inDownloader = true;
    downloader_->add({entry.id, entry.url, entry.folder, entry.fileName});
}

void DownloadList::change(const store::ListEntry& entry) {
    // A row not trusted is never written: it stays as the file has it.
    if (!isTrusted(entry.id)) return;
    updateRow(entry);
    // Running is not kept: a song that was running when the program ended
    // is waiting on the next start either way.
    if (entry.state != store::ListState::Downloading) store_->Save(entry);
}

bool DownloadList::isRow(int row) const { return row >= 0 && row < model_.rowCount(); }

bool DownloadList::canOpen(int row) const {
    return isRow(row) && isTrusted(model_.entry(row).id) && model_.entry(row).state == store::ListState::Finished &&
           !model_.entry(row).path.empty();
}

bool DownloadList::canOpenFolder(int row) const { return isRow(row) && isTrusted(model_.entry(row).id); }

bool DownloadList::canStop(int row) const {
    return isRow(row) && !runByOther_ && isActive(model_.entry(row).state);
}

bool DownloadList::canRestart(int row) const {
    return isRow(row) && !runByOther_ && isTrusted(model_.entry(row).id) && !isActive(model_.entry(row).state);
}

bool DownloadList::canRemove(int row) const { return isRow(row) && !runByOther_; }

bool DownloadList::canMoveToFront(int row) const {
    if (!isRow(row) || runByOther_) return false;
    const store::ListEntry& entry = model_.entry(row);
    const DownloadListModel::RowRun* run = model_.runOf(entry.id);
    return entry.state == store::ListState::Waiting && run && run->inDownloader && !run->stopping &&
           !switching_.contains(entry.id);
}

void DownloadList::moveToFront(const QList<int>& rows) {
    const std::vector<std::int64_t> ids = idsOf(rows, &DownloadList::canMoveToFront);
    if (ids.empty()) return;
    // Ahead of every place given so far, in the order of the rows: the next
    // start queues them so again.
    frontPlace_ -= static_cast<std::int64_t>(ids.size());
    std::int64_t place = frontPlace_;
    for (std::int64_t id : ids) {
        store::ListEntry entry = *model_.find(id);
        entry.queuePlace = place++;
        change(entry);
    }
    downloader_->moveToFront(ids);
}

void DownloadList::applySettings(const ListSettings& settings) {
    settings_ = settings;
    settings_.atATime = std::clamp(settings.atATime, ListSettings::kMinAtATime, ListSettings::kMaxAtATime);
    settings_.limitKBps = std::clamp(settings.limitKBps, ListSettings::kMinLimitKBps, ListSettings::kMaxLimitKBps);
    downloader_->setPlaces(settings_.atATime);
    downloader_->setSpeedLimit(settings_.bytesPerSecond());
}

int DownloadList::rowFetching(const std::string& url, const std::string& folder, const std::string& fileName) const {
    if (dl::ExpandFolder(folder) != folder_) return -1;
    const std::int64_t id = index_.fetching(url, dl::SafeDestinationName(fileName));
    return id != 0 && isTrusted(id) ? model_.rowOf(id) : -1;
}

// Taken first: a command's changes may move the rows it was given.
std::vector<std::int64_t> DownloadList::idsOf(const QList<int>& rows, bool (DownloadList::*applies)(int) const) const {
    std::vector<std::int64_t> ids;
    for (int row : rows)
        if ((this->*applies)(row)) ids.push_back(model_.entry(row).id);
    return ids;
}

void DownloadList::stop(const QList<int>& rows) {
    for (std::int64_t id : idsOf(rows, &DownloadList::canStop)) {
        store::ListEntry entry = *model_.find(id);
        entry.state = store::ListState::Stopped;
        change(entry);
        switching_.remove(id);
        DownloadListModel::RowRun& run = *model_.runOf(id);
        run.restartWanted = false;
        if (run.inDownloader) {
            run.stopping = true;
            downloader_->stop(id);
        }
    }
}

void DownloadList::restart(const QList<int>& rows) {
    for (std::int64_t id : idsOf(rows, &DownloadList::canRestart)) {
        store::ListEntry entry = *model_.find(id);
        entry.state = store::ListState::Waiting;
        entry.reason.clear();
        // Counted afresh: a download that continues kept bytes reports them.
        entry.received = 0;
        entry.total = 0;
        // A song added since it ended may write its file now: two songs
        // never write one file at once.
        if (index_.nameTaken(dl::SafeDestinationName(entry.fileName)))
            entry.fileName = index_.freeFileName(entry.title);
        entry.path = destinationPath(entry.fileName).toStdString();
        entry.identity.clear();
        // Queued behind the others now, as a song just added.
        entry.queuePlace = 0;
        // Asked again: every link of the song may be tried again.
        trails_.remove(id);
        change(entry);
        // A song whose stop has not ended yet starts again once it has: its
        // kept bytes are then where the next download finds them.
        DownloadListModel::RowRun& run = *model_.runOf(id);
        if (run.inDownloader) {
            run.restartWanted = true;
        } else {
            enqueue(entry);
        }
    }
}

void DownloadList::remove(const QList<int>& rows) {
    const std::vector<std::int64_t> ids = idsOf(rows, &DownloadList::canRemove);
    for (std::int64_t id : ids) {
        const store::ListEntry& entry = *model_.find(id);
        // The row's run goes with the row: only its title waits for its end.
        const DownloadListModel::RowRun& run = *model_.runOf(id);
        if (run.inDownloader) {
            removedTitles_.insert(id, shown(entry.title));
            if (!run.stopping) downloader_->stop(id);
        }
        index_.erase(entry);
        // Removed, not ended: only the count follows.
        countActivity(isActive(entry.state), false);
        store_->Remove(id);
        switching_.remove(id);
        trails_.remove(id);
    }
    model_.removeIds(ids);
}

// Only the very file the list finished, in the list's folder, with a
// song's or a page's extension: a row names any path, and the desktop's
// opener runs what it is given (a .desktop file, a script).
void DownloadList::openSong(int row) {
    if (isRow(row) && !isTrusted(model_.entry(row).id)) tellUntrusted(model_.entry(row));
    if (!canOpen(row)) return;
    const store::ListEntry& entry = model_.entry(row);
    const QString path = shown(entry.path);
    const std::string identity = fileIdentity(entry.path);
    if (identity.empty() && !QFileInfo::exists(QString::fromStdString(entry.path)) &&
        !QFileInfo(QString::fromStdString(entry.path)).isSymLink()) {
        log_(QStringLiteral("无法打开歌曲 ") + path + QStringLiteral("：文件已经不在了"));
    } else if (!isItsFinishedFile(entry)) {
        log_(QStringLiteral("无法打开歌曲 ") + path + QStringLiteral("：这个文件已经不是下载列表下载的那个文件"));
    } else if (!open_(QUrl::fromLocalFile(QString::fromStdString(entry.path)))) {
        log_(QStringLiteral("无法打开歌曲 ") + path);
    }
}

// The list's download folder, made when missing, as 打开下载文件夹 makes
// its own: every song of the list is saved there, whatever a row says.
void DownloadList::openFolder(int row) {
    if (isRow(row) && !isTrusted(model_.entry(row).id)) tellUntrusted(model_.entry(row));
    if (!canOpenFolder(row)) return;
    const QString folder = QDir::cleanPath(QString::fromStdString(folder_));
    if (!QDir().mkpath(folder) || !open_(QUrl::fromLocalFile(folder)))
        log_(QStringLiteral("无法打开所在文件夹 ") + folder);
}

void DownloadList::shutdown() {
    if (closed_) return;
    closed_ = true;
    // An add still going on ends where it is: what is in stays.
    slices_.stop();
    jobs_.clear();
    if (nextLinks_) nextLinks_->stopAll();
    switching_.clear();
    downloader_->stopAll();
    model_.endRuns();
}

void DownloadList::onStarted(std::int64_t id) {
    const store::ListEntry* found = model_.find(id);
    if (!found || model_.runOf(id)->stopping || found->state != store::ListState::Waiting) return;
    store::ListEntry entry = *found;
    entry.state = store::ListState::Downloading;
    change(entry);
}

void DownloadList::onProgress(std::int64_t id, std::int64_t received, std::int64_t total) {
    const store::ListEntry* entry = model_.find(id);
    if (!entry || entry->state != store::ListState::Downloading) return;
    model_.setProgress(id, received, total);
}

void DownloadList::onRetryWait(std::int64_t id, std::chrono::milliseconds pause) {
    const store::ListEntry* entry = model_.find(id);
    if (!entry || entry->state != store::ListState::Downloading || model_.runOf(id)->stopping) return;
    model_.setRetryWait(id, pause);
}

void DownloadList::onEnded(std::int64_t id, const DownloadOutcome& outcome, std::int64_t /*received*/,
                           std::int64_t total) {
    const store::ListEntry* found = model_.find(id);
    // Whatever comes next for the row is not this download's.
    const DownloadListModel::RowRun ended = model_.endRun(id);
    const bool stoppedByUser = ended.stopping;
    if (!found) {
        // Removed from the list while it ran: its end is still told.
        const QString title = removedTitles_.take(id);
        if (!title.isNull()) log_(outcomeLogLine(title, outcome));
        return;
    }
    if (!isTrusted(id)) return;
    store::ListEntry entry = *found;
    // A song that did not finish holds what it kept, and nothing else: the
    // bytes it had in hand went with it (a saved song's size is set below).
    entry.received = outcome.kept;
    entry.total = total;
    if (outcome.kind == DownloadOutcome::Kind::Failed && !stoppedByUser && !ended.restartWanted && moveOn(entry, outcome))
        return;
    const LinkTrail trail = trails_.take(id);
    switch (outcome.kind) {
    case DownloadOutcome::Kind::Saved:
    case DownloadOutcome::Kind::SavedAsPage:
        // Saved before the stop reached it: it is there all the same.
        entry.state = store::ListState::Finished;
        entry.path = outcome.path.toStdString();
        entry.received = outcome.size;
        entry.total = outcome.size;
        // What 打开歌曲 will open only while it is still this file.
        entry.identity = fileIdentity(entry.path);
        // A web page instead of a song is said beside 已完成, as the log says it.
        entry.reason = outcome.kind == DownloadOutcome::Kind::SavedAsPage ? "地址给出的是网页" : "";
        break;
    case DownloadOutcome::Kind::Failed:
        entry.state = stoppedByUser ? store::ListState::Stopped : store::ListState::Failed;
        entry.reason = stoppedByUser ? std::string() : outcome.reason.toStdString();
        break;
    case DownloadOutcome::Kind::Cancelled:
        entry.state = store::ListState::Stopped;
        entry.reason.clear();
        break;
    }
    change(entry);
    if (finished_) finished_->songEnded(entry.title, entry.url, outcome);
    QString line = outcomeLogLine(shown(entry.title), outcome);
    // The link that worked, when it was not the first.
    if (outcome.kind == DownloadOutcome::Kind::Saved && trail.tried.size() > 1)
        line += QStringLiteral("（第 %1 个链接 %2）").arg(trail.tried.size()).arg(shown(entry.url));
    log_(line);
    if (ended.restartWanted) {
        restart({model_.rowOf(id)});
    }
}

bool DownloadList::moveOn(store::ListEntry entry, const DownloadOutcome& outcome) {
    if (!nextLinks_ || !outcome.linkAtFault) return false;
    LinkTrail& trail = trails_[entry.id];
    if (trail.tried.empty()) trail.tried.push_back(entry.url);
    trail.failures << QStringLiteral("第 %1 个链接 %2").arg(trail.tried.size()).arg(linkFailureText(outcome));
    trail.last = outcome;
    entry.state = store::ListState::Waiting;
    entry.reason = QStringLiteral("第 %1 个链接失败（%2），正在找下一个链接")
                       .arg(trail.tried.size())
                       .arg(linkFailureText(outcome))
                       .toStdString();
    change(entry);
    switching_.insert(entry.id);
    NextLinkFinder::Ask ask;
    ask.id = entry.id;
    ask.title = entry.title;
    ask.failedUrl = entry.url;
    ask.failure = outcome.failure;
    ask.errorCode = outcome.errorCode;
    ask.statusCode = outcome.statusCode;
    ask.reason = linkFailureText(outcome).toStdString();
    ask.tried = trail.tried;
    ask.folder = entry.folder;
    ask.fileName = entry.fileName;
    ask.kept = outcome.kept > 0;
    nextLinks_->find(ask);
    return true;
}

void DownloadList::onNextLink(const NextLinkFinder::Found& found) {
    // Stopped, removed, or the list closing since it asked: nothing to do.
    if (closed_ || !switching_.remove(found.id)) return;
    const store::ListEntry* row = model_.find(found.id);
    if (!row) return;
    store::ListEntry entry = *row;
    LinkTrail& trail = trails_[found.id];
    const QString title = shown(entry.title);
    if (found.url.empty()) {
        const DownloadOutcome last = trail.last;
        entry.state = store::ListState::Failed;
        if (trail.tried.size() > 1) {
            entry.reason = (QStringLiteral("试过的 %1 个链接都不行：").arg(trail.tried.size()) +
                            trail.failures.join(QStringLiteral("；")))
                               .toStdString();
            log_(QStringLiteral("下载失败：《") + title + QStringLiteral("》，") + shown(entry.reason));
        } else {
            // A song of one link ends as it always did.
            entry.reason = last.reason.toStdString();
            log_(outcomeLogLine(title, last));
        }
        trails_.remove(found.id);
        change(entry);
        return;
    }
    const int number = static_cast<int>(trail.tried.size()) + 1;
    const QString before = linkFailureText(trail.last);
    trail.tried.push_back(found.url);
    entry.url = found.url;
    entry.received = 0;
    entry.total = 0;
    entry.reason = QStringLiteral("换用第 %1 个链接：上一个 %2").arg(number).arg(before).toStdString();
    // Queued behind the others on its next link.
    entry.queuePlace = 0;
    change(entry);
    log_(QStringLiteral("《") + title + QStringLiteral("》：第 %1 个链接失败（%2），换用第 %3 个链接 ")
                                          .arg(number - 1)
                                          .arg(before)
                                          .arg(number) +
         shown(found.url) +
         (found.carried ? QStringLiteral("，接着已下载的部分下载") : QString()));
    enqueue(entry);
}

}  // namespace app
