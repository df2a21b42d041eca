// The downloads list's rules without a window or a network: what a restart
// brings back, what is added twice and what is not, and the menu's commands
// against a downloader that only records what it is asked and reports what
// the test tells it.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include <QCoreApplication>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include "app/DownloadList.h"
#include "app/DownloadOutcome.h"
#include "app/ListRowTrust.h"
#include "app/ListSettings.h"
#include "app/ProgramSettings.h"
#include "download/texts/DownloadErrors.h"
#include "store/SongStore.h"
#include "tests/app/ProgramProcess.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/support/PumpEvents.h"
#include "tests/support/TempDir.h"
#include "tests/support/ToolProcess.h"
#include "tests/support/ToolRun.h"

namespace fs = std::filesystem;
using app::DownloadList;
using app::DownloadListModel;
using app::DownloadOutcome;
using app::ListDownloader;
using store::ListEntry;
using store::ListState;
using namespace std::chrono_literals;

namespace {

class RecordingDownloader : public ListDownloader {
public:
    struct Log {
        std::vector<Song> added;
        std::vector<std::int64_t> stopped;
        std::vector<std::vector<std::int64_t>> movedToFront;
        std::vector<int> places;
        std::vector<std::int64_t> speedLimits;
        bool stoppedAll = false;
    };
    explicit RecordingDownloader(Log& log) : log_(log) {}
    void setReports(Reports reports) override { reports_ = std::move(reports); }
    void add(const Song& song) override { log_.added.push_back(song); }
    void stop(std::int64_t id) override { log_.stopped.push_back(id); }
    void moveToFront(const std::vector<std::int64_t>& ids) override { log_.movedToFront.push_back(ids); }
    void setPlaces(int places) override { log_.places.push_back(places); }
    void setSpeedLimit(std::int64_t bytesPerSecond) override { log_.speedLimits.push_back(bytesPerSecond); }
    void stopAll() override { log_.stoppedAll = true; }
    Reports reports_;

private:
    Log& log_;
};

DownloadOutcome saved(const std::string& path, std::int64_t size) {
    DownloadOutcome o;
    o.kind = DownloadOutcome::Kind::Saved;
    o.path = QString::fromStdString(path);
    o.size = size;
    return o;
}

DownloadOutcome page(const std::string& path, std::int64_t size) {
    DownloadOutcome o = saved(path, size);
    o.kind = DownloadOutcome::Kind::SavedAsPage;
    return o;
}

DownloadOutcome failed(const char* reason) {
    DownloadOutcome o;
    o.kind = DownloadOutcome::Kind::Failed;
    o.reason = QString::fromUtf8(reason);
    return o;
}

DownloadOutcome cancelled() {
    DownloadOutcome o;
    o.kind = DownloadOutcome::Kind::Cancelled;
    return o;
}

class DownloadListRules : public ::testing::Test {
protected:
    void SetUp() override {
        fs::current_path(dir_.path());
        store::CreateEmptyStore(path_);
    }
    void TearDown() override {
        list_.reset();
        fs::current_path(old_);
    }
    DownloadList& open() {
        auto downloader = std::make_unique<RecordingDownloader>(log_);
        downloader_ = downloader.get();
        list_ = std::make_unique<DownloadList>(path_, "downmp3/", std::move(downloader),
                                               [this](const QString& line) { lines_ << line; });
        list_->setOpener([this](const QUrl& url) {
            opened_ << url;
            return openWorks_;
        });
        list_->start();
        return *list_;
    }
    void close() {
        list_.reset();
        downloader_ = nullptr;
    }
    DownloadListModel& model() { return list_->model(); }
    int rowOf(const std::string& title) {
        for (int row = 0; row < model().rowCount(); ++row)
            if (model().entry(row).title == title) return row;
        return -1;
    }
    ListState stateOf(const std::string& title) { return model().entry(rowOf(title)).state; }
    std::int64_t idOf(const std::string& title) { return model().entry(rowOf(title)).id; }
    std::string folder() const { return fs::absolute(dir_.path() / "downmp3").lexically_normal().string() + "/"; }
    std::map<std::int64_t, int> statesOnDisk() {
        std::map<std::int64_t, int> states;
        const auto ids = storetest::OtherConnection(path_).ids("select id from downloadlist order by id");
        const auto values = storetest::OtherConnection(path_).ids("select state from downloadlist order by id");
        for (std::size_t i = 0; i < ids.size(); ++i) states[ids[i]] = static_cast<int>(values[i]);
        return states;
    }

    testsupport::TempDir dir_;
    fs::path old_ = fs::current_path();
    std::string path_ = dir_.file("mysong.mdb");
    RecordingDownloader::Log log_;
    RecordingDownloader* downloader_ = nullptr;
    std::unique_ptr<DownloadList> list_;
    QStringList lines_;
    QList<QUrl> opened_;
    bool openWorks_ = true;
};

}  // namespace

// On start, what was waiting or downloading waits again and is handed to
// the downloader in the list's order; what had ended stays as it was.
TEST_F(DownloadListRules, ARestartStartsWhatWasWaitingOrDownloading) {
    struct Row {
        std::int64_t id;
        int storedState;
        ListState afterStart;
        bool started;
    };
    const std::vector<Row> rows = {
        {1, 2, ListState::Finished, false}, {2, 1, ListState::Waiting, true},  {3, 0, ListState::Waiting, true},
        {4, 3, ListState::Failed, false},   {5, 4, ListState::Stopped, false}, {6, 0, ListState::Waiting, true},
    };
    storetest::execSql(path_, store::DownloadListStore::kCreate);
    for (const Row& r : rows) {
        const std::string title = "song " + std::to_string(r.id);
        storetest::execSql(path_, "insert into downloadlist values (" + std::to_string(r.id) + ", '" + title +
                                      "', 'http://h/" + std::to_string(r.id) + ".mp3', '" + folder() + "', '" +
                                      title + ".mp3', " + std::to_string(r.storedState) + ", 10, 100, '', '" +
                                      folder() + title + ".mp3', '')");
    }
    open();
    ASSERT_EQ(model().rowCount(), static_cast<int>(rows.size()));
    std::vector<std::int64_t> started;
    for (const Row& r : rows) {
        EXPECT_EQ(model().entry(model().rowOf(r.id)).state, r.afterStart) << r.id;
        if (r.started) started.push_back(r.id);
    }
    std::vector<std::int64_t> handed;
    for (const auto& song : log_.added) handed.push_back(song.id);
    EXPECT_EQ(handed, started);
    EXPECT_EQ(log_.added[0].url, "http://h/2.mp3");
    EXPECT_EQ(log_.added[0].folder, folder());
    EXPECT_TRUE(lines_.contains(QStringLiteral("下载列表中有 3 首歌曲接着下载。"))) << lines_.join('\n').toStdString();
    // Kept as waiting: a crash now starts them again next time too.
    ASSERT_TRUE(list_->listStore().WaitUntilWritten(60s));
    EXPECT_EQ(statesOnDisk()[2], 0);
    EXPECT_EQ(statesOnDisk()[1], 2);
}

// A song waiting or downloading to the same file is not added again; one
// of the same title from another address gets a name of its own; once it
// has ended it may be added again.
TEST_F(DownloadListRules, AddingTwice) {
    open();
    const DownloadList::Song a{QStringLiteral("月亮"), QStringLiteral("http://h/a.mp3")};
    const DownloadList::Song sameTitleOtherUrl{QStringLiteral("月亮"), QStringLiteral("http://h/b.mp3")};
    const DownloadList::Song sameUrlOtherTitle{QStringLiteral("月亮 live"), QStringLiteral("http://h/a.mp3")};
    // "/" cannot be in a file name: the same file as "月亮_1".
    const DownloadList::Song slash{QStringLiteral("月亮/1"), QStringLiteral("http://h/c.mp3")};
    const DownloadList::Song underscore{QStringLiteral("月亮_1"), QStringLiteral("http://h/c.mp3")};
    const DownloadList::Song noUrl{QStringLiteral("无地址"), QString()};

    struct Step {
        QList<DownloadList::Song> songs;
        int added, already, withoutUrl;
    };
    const std::vector<Step> steps = {
        {{a, a}, 1, 1, 0},
        {{a}, 0, 1, 0},
        {{sameTitleOtherUrl, sameUrlOtherTitle}, 2, 0, 0},
        {{slash, underscore, noUrl}, 1, 1, 1},
    };
    for (const Step& step : steps) {
        const DownloadList::Added added = list_->add(step.songs);
        EXPECT_EQ(added.added, step.added);
        EXPECT_EQ(added.alreadyThere, step.already);
        EXPECT_EQ(added.withoutUrl, step.withoutUrl);
    }
    ASSERT_EQ(log_.added.size(), 4u);
    EXPECT_EQ(log_.added[0].fileName, "月亮.mp3");
    EXPECT_EQ(log_.added[0].folder, folder());
    EXPECT_EQ(log_.added[1].fileName, "月亮 (2).mp3");
    EXPECT_EQ(log_.added[2].fileName, "月亮 live.mp3");
    EXPECT_EQ(model().entry(rowOf("月亮/1")).path, folder() + "月亮_1.mp3");
    EXPECT_EQ(lines_.last(), QStringLiteral("已把 1 首歌曲加入下载列表；1 首已经在下载列表中等待或下载，没有再加入；"
                                            "1 首没有下载地址，没有加入。"));

    // Ended, the song may be fetched again as a new row.
    downloader_->reports_.ended(log_.added[0].id, saved(folder() + "月亮.mp3", 10), 10, 10);
    EXPECT_EQ(list_->add({a}).added, 1);
    EXPECT_EQ(log_.added.back().fileName, "月亮.mp3");
}

// The reports move a row through its states; each end is one log line, the
// same the modal commands write.
TEST_F(DownloadListRules, ReportsMoveARowAndEachEndIsLogged) {
    open();
    struct Case {
        const char* title;
        DownloadOutcome outcome;
        ListState state;
        const char* stateText;
    };
    const std::vector<Case> cases = {
        {"好歌", saved(folder() + "好歌.mp3", 2048), ListState::Finished, "已完成"},
        {"坏歌", failed("无法连接到服务器"), ListState::Failed, "失败：无法连接到服务器"},
        {"停歌", cancelled(), ListState::Stopped, "已停止"},
        {"网页", page(folder() + "网页.mp3.htm", 213), ListState::Finished, "已完成：地址给出的是网页"},
    };
    for (const Case& c : cases) {
        list_->add({{QString::fromUtf8(c.title), QStringLiteral("http://h/") + QString::fromUtf8(c.title)}});
        const std::int64_t id = idOf(c.title);
        downloader_->reports_.started(id);
        EXPECT_EQ(stateOf(c.title), ListState::Downloading);
        downloader_->reports_.progress(id, 1024, 2048);
        EXPECT_EQ(model().entry(rowOf(c.title)).received, 1024);
        downloader_->reports_.ended(id, c.outcome, 1024, 2048);
        EXPECT_EQ(stateOf(c.title), c.state) << c.title;
        EXPECT_EQ(DownloadListModel::stateText(model().entry(rowOf(c.title))), QString::fromUtf8(c.stateText));
        EXPECT_EQ(lines_.last(), app::outcomeLogLine(QString::fromUtf8(c.title), c.outcome));
    }
    EXPECT_EQ(model().entry(rowOf("好歌")).path, folder() + "好歌.mp3");
    EXPECT_EQ(model().entry(rowOf("好歌")).received, 2048);
    // It kept nothing: the bytes it had in hand are not shown as held.
    EXPECT_EQ(model().entry(rowOf("坏歌")).received, 0);
    // Across a restart they are as they ended, and none starts again.
    close();
    log_.added.clear();
    open();
    EXPECT_EQ(stateOf("好歌"), ListState::Finished);
    EXPECT_EQ(stateOf("坏歌"), ListState::Failed);
    EXPECT_EQ(DownloadListModel::stateText(model().entry(rowOf("坏歌"))), QStringLiteral("失败：无法连接到服务器"));
    EXPECT_EQ(stateOf("停歌"), ListState::Stopped);
    EXPECT_EQ(DownloadListModel::stateText(model().entry(rowOf("网页"))), QStringLiteral("已完成：地址给出的是网页"));
    EXPECT_EQ(model().entry(rowOf("网页")).path, folder() + "网页.mp3.htm");
    EXPECT_TRUE(log_.added.empty());
    // Downloaded again, a row counts its bytes afresh and says no reason.
    list_->restart({rowOf("坏歌")});
    const store::ListEntry& again = model().entry(rowOf("坏歌"));
    EXPECT_EQ(again.state, ListState::Waiting);
    EXPECT_EQ(again.received, 0);
    EXPECT_EQ(again.total, 0);
    EXPECT_EQ(DownloadListModel::stateText(again), QStringLiteral("等待"));
    ASSERT_EQ(log_.added.size(), 1u);
    EXPECT_EQ(log_.added[0].fileName, "坏歌.mp3");
}

// A row that ended without its file shows what is kept of it for the next
// download, and nothing when nothing is: not the bytes it had in hand.
TEST_F(DownloadListRules, AnEndedRowShowsWhatIsReallyKept) {
    open();
    struct Case {
        const char* title;
        DownloadOutcome outcome;
        bool stopFirst;
        std::int64_t inHand, total;
        const char* progress;
        const char* size;
    };
    const auto keeping = [](DownloadOutcome o, std::int64_t kept) {
        o.kept = kept;
        return o;
    };
    const std::vector<Case> cases = {
        {"失败无留", failed("无法连接到服务器"), false, 507904, 1048576, "0%", "0 字节 / 1.00 MB"},
        {"失败有留", keeping(failed("连接中断，歌曲没有下载完整"), 524288), false, 524288, 1048576, "50%",
         "512.0 KB / 1.00 MB"},
        {"不是歌曲", failed("地址给出的不是歌曲"), false, 16384, 0, "", "0 字节"},
        {"停止有留", keeping(cancelled(), 307200), true, 409600, 1048576, "29%", "300.0 KB / 1.00 MB"},
        {"停止无留", cancelled(), true, 409600, 0, "", "0 字节"},
        {"停止前完成", saved(folder() + "停止前完成.mp3", 2048), true, 2048, 2048, "100%", "2.0 KB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        list_->add({{QString::fromUtf8(c.title), QStringLiteral("http://h/") + QString::fromUtf8(c.title)}});
        const std::int64_t id = idOf(c.title);
        downloader_->reports_.started(id);
        downloader_->reports_.progress(id, c.inHand, c.total);
        if (c.stopFirst) list_->stop({rowOf(c.title)});
        downloader_->reports_.ended(id, c.outcome, c.inHand, c.total);
        const ListEntry& row = model().entry(rowOf(c.title));
        EXPECT_EQ(DownloadListModel::progressText(row), QString::fromUtf8(c.progress));
        EXPECT_EQ(DownloadListModel::sizeText(row), QString::fromUtf8(c.size));
    }
}

// After 停止 and 重新下载 the kept bytes come in the first report at once:
// they are where the speed is measured from, not bytes that arrived.
TEST_F(DownloadListRules, KeptBytesAtARestartAreNoSpeed) {
    open();
    std::int64_t now = 0;
    model().setClock([&now] { return now; });
    list_->add({{QStringLiteral("续"), QStringLiteral("http://h/续.mp3")}});
    const std::int64_t id = idOf("续");
    const auto cell = [&](int column) { return model().data(model().index(rowOf("续"), column)).toString(); };
    constexpr std::int64_t kTotal = 5 << 20, kKept = 4 << 20, kPerSecond = 64 << 10;
    downloader_->reports_.started(id);
    downloader_->reports_.progress(id, kKept / 2, kTotal);
    list_->stop({rowOf("续")});
    DownloadOutcome stopped = cancelled();
    stopped.kept = kKept;
    downloader_->reports_.ended(id, stopped, kKept, kTotal);
    list_->restart({rowOf("续")});
    downloader_->reports_.started(id);
    // The turns that pass before the first report find nothing to measure.
    for (; now < 1000; now += 250) model().flush();
    EXPECT_EQ(cell(DownloadListModel::SpeedColumn), QStringLiteral("—"));
    EXPECT_EQ(cell(DownloadListModel::TimeLeftColumn), QStringLiteral("—"));
    for (int second = 0; second <= 3; ++second, now += 1000) {
        downloader_->reports_.progress(id, kKept + second * kPerSecond, kTotal);
        model().flush();
        if (second == 0) {
            EXPECT_EQ(cell(DownloadListModel::SpeedColumn), QStringLiteral("—"));
            continue;
        }
        EXPECT_EQ(cell(DownloadListModel::SpeedColumn), QStringLiteral("64.0 KB/s")) << second;
        const std::int64_t left = (kTotal - kKept - second * kPerSecond) / kPerSecond;
        EXPECT_EQ(cell(DownloadListModel::TimeLeftColumn), DownloadListModel::durationText(left)) << second;
    }
}

// The menu's commands, each on the rows it applies to.
TEST_F(DownloadListRules, TheMenusCommands) {
    open();
    for (const char* title : {"一", "二", "三", "四"})
        list_->add({{QString::fromUtf8(title), QStringLiteral("http://h/") + QString::fromUtf8(title)}});
    const std::int64_t one = idOf("一"), two = idOf("二"), three = idOf("三"), four = idOf("四");
    downloader_->reports_.started(one);
    downloader_->reports_.started(two);
    fs::create_directories(folder());
    std::ofstream(folder() + "一.mp3") << "song";
    downloader_->reports_.ended(one, saved(folder() + "一.mp3", 4), 4, 4);

    // What applies to which row: 一 finished, 二 downloading, 三 and 四 waiting.
    const std::vector<std::tuple<const char*, bool, bool, bool>> applies = {
        {"一", true, false, true}, {"二", false, true, false}, {"三", false, true, false}};
    for (const auto& [title, opens, stops, restarts] : applies) {
        EXPECT_EQ(list_->canOpen(rowOf(title)), opens) << title;
        EXPECT_EQ(list_->canStop(rowOf(title)), stops) << title;
        EXPECT_EQ(list_->canRestart(rowOf(title)), restarts) << title;
    }

    // 停止 on all four: only the running and the waiting ones are stopped.
    list_->stop({0, 1, 2, 3});
    EXPECT_EQ(log_.stopped, (std::vector<std::int64_t>{two, three, four}));
    EXPECT_EQ(stateOf("二"), ListState::Stopped);
    EXPECT_EQ(stateOf("一"), ListState::Finished);
    // A stopped song's end still comes, and is told; a stop does not make it a failure.
    DownloadOutcome stoppedKept = failed("下载被停止");
    stoppedKept.kept = 100;
    downloader_->reports_.ended(two, stoppedKept, 150, 200);
    EXPECT_EQ(stateOf("二"), ListState::Stopped);
    EXPECT_EQ(model().entry(rowOf("二")).received, 100);
    downloader_->reports_.ended(three, cancelled(), 0, 0);

    // 重新下载 of 三 (ended) starts it at once; of 四 (its end still to
    // come) once it has ended, so that its kept bytes are there to continue.
    const std::size_t before = log_.added.size();
    list_->restart({rowOf("三"), rowOf("四")});
    EXPECT_EQ(stateOf("三"), ListState::Waiting);
    EXPECT_EQ(stateOf("四"), ListState::Waiting);
    ASSERT_EQ(log_.added.size(), before + 1);
    EXPECT_EQ(log_.added.back().id, three);
    downloader_->reports_.ended(four, cancelled(), 0, 0);
    ASSERT_EQ(log_.added.size(), before + 2);
    EXPECT_EQ(log_.added.back().id, four);
    EXPECT_EQ(stateOf("四"), ListState::Waiting);

    // 打开歌曲 and 打开所在文件夹.
    list_->openSong(rowOf("一"));
    list_->openSong(rowOf("二"));  // not finished: nothing
    list_->openFolder(rowOf("二"));
    ASSERT_EQ(opened_.size(), 2);
    EXPECT_EQ(opened_[0], QUrl::fromLocalFile(QString::fromStdString(folder() + "一.mp3")));
    EXPECT_EQ(opened_[1], QUrl::fromLocalFile(QString::fromStdString(folder()).chopped(1)));
    openWorks_ = false;
    const int linesBefore = lines_.size();
    list_->openSong(rowOf("一"));
    list_->openFolder(rowOf("一"));
    ASSERT_EQ(lines_.size(), linesBefore + 2);
    EXPECT_EQ(lines_[linesBefore], QStringLiteral("无法打开歌曲 ") + QString::fromStdString(folder() + "一.mp3"));
    EXPECT_EQ(lines_[linesBefore + 1], QStringLiteral("无法打开所在文件夹 ") + QString::fromStdString(folder()).chopped(1));
    fs::remove(folder() + "一.mp3");
    openWorks_ = true;
    list_->openSong(rowOf("一"));
    EXPECT_EQ(lines_.last(), QStringLiteral("无法打开歌曲 ") + QString::fromStdString(folder() + "一.mp3") +
                                 QStringLiteral("：文件已经不在了"));

    // 从列表中删除: a running row is stopped first, its end still told; the
    // file of a finished one stays.
    downloader_->reports_.started(three);
    std::ofstream(folder() + "一.mp3") << "song";
    list_->remove({rowOf("一"), rowOf("三")});
    EXPECT_EQ(log_.stopped.back(), three);
    EXPECT_EQ(rowOf("一"), -1);
    EXPECT_EQ(rowOf("三"), -1);
    EXPECT_TRUE(fs::exists(folder() + "一.mp3"));
    downloader_->reports_.ended(three, cancelled(), 0, 0);
    EXPECT_EQ(lines_.last(), app::outcomeLogLine(QStringLiteral("三"), cancelled()));
    ASSERT_TRUE(list_->listStore().WaitUntilWritten(60s));
    const auto onDisk = statesOnDisk();
    EXPECT_EQ(onDisk.count(one), 0u);
    EXPECT_EQ(onDisk.count(three), 0u);
    EXPECT_EQ(onDisk.at(two), static_cast<int>(ListState::Stopped));
    EXPECT_EQ(onDisk.at(four), static_cast<int>(ListState::Waiting));
}

// Closing the program ends the downloads but keeps them as they are kept:
// they start again on the next run.
TEST_F(DownloadListRules, ClosingKeepsRunningSongsForTheNextRun) {
    open();
    list_->add({{QStringLiteral("甲"), QStringLiteral("http://h/1")}, {QStringLiteral("乙"), QStringLiteral("http://h/2")}});
    downloader_->reports_.started(idOf("甲"));
    list_->shutdown();
    EXPECT_TRUE(log_.stoppedAll);
    close();
    log_ = {};
    open();
    EXPECT_EQ(stateOf("甲"), ListState::Waiting);
    EXPECT_EQ(stateOf("乙"), ListState::Waiting);
    EXPECT_EQ(log_.added.size(), 2u);
}

// A store the list cannot be kept in: the list works all the same, and the
// log says so once.
TEST_F(DownloadListRules, ALockedStoreLeavesTheListInMemoryAndSaysSoOnce) {
    storetest::OtherConnection other(path_);
    other.holdWriteLock();
    auto downloader = std::make_unique<RecordingDownloader>(log_);
    downloader_ = downloader.get();
    list_ = std::make_unique<DownloadList>(path_, "downmp3/", std::move(downloader),
                                           [this](const QString& line) { lines_ << line; }, nullptr, 200ms);
    list_->start();
    // The first change makes the table, which waits for the lock.
    EXPECT_EQ(list_->add({{QStringLiteral("甲"), QStringLiteral("http://h/1")}}).added, 1);
    ASSERT_TRUE(list_->listStore().WaitUntilWritten(60s));
    ASSERT_TRUE(testsupport::pumpUntil([&] { return !lines_.filter(QStringLiteral("下载列表无法保存到歌曲库文件")).isEmpty(); }));
    EXPECT_EQ(list_->add({{QStringLiteral("乙"), QStringLiteral("http://h/2")}}).added, 1);
    EXPECT_EQ(log_.added.size(), 2u);
    QCoreApplication::processEvents();
    EXPECT_EQ(lines_.filter(QStringLiteral("下载列表无法保存到歌曲库文件")).size(), 1);
    other.release();
}

namespace {

// A row as another program could write it into the store: a good one,
// changed in one way or another.
struct HostileRow {
    const char* what;
    std::function<void(ListEntry&)> change;
};

}  // namespace

// Rows the list could not have written are shown stopped, with the reason,
// one log line each; they are never started, opened or written, and can only
// be removed. Nothing lands outside the download folder.
TEST_F(DownloadListRules, RowsTheListCouldNotHaveWrittenAreNeverUsed) {
    const std::string outside = fs::absolute(dir_.path() / "outside").string() + "/";
    const std::string autostart = fs::absolute(dir_.path() / ".config" / "autostart").string() + "/";
    const std::string secret = dir_.file("secret");
    std::ofstream(secret) << "secret";
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directories(folder());
    std::ofstream(folder() + "evil.desktop") << "[Desktop Entry]\nExec=sh -c 'touch " << outside << "ran'\n";
    const auto finished = [](ListEntry& e, const std::string& path) {
        e.state = ListState::Finished;
        e.path = path;
        e.identity = "1:2:3";
    };
    const std::vector<HostileRow> rows = {
        {"a folder outside", [&](ListEntry& e) { e.folder = outside; e.path = outside + e.fileName; }},
        {"a folder with ..", [&](ListEntry& e) { e.folder = folder() + "../outside/"; e.path = e.folder + e.fileName; }},
        {"a relative folder", [&](ListEntry& e) { e.folder = "downmp3/"; e.path = "downmp3/" + e.fileName; }},
        {"autostart", [&](ListEntry& e) { e.folder = autostart; e.fileName = "evil.desktop"; e.path = autostart + "evil.desktop"; }},
        {"a name of another song", [&](ListEntry& e) { e.fileName = "other.mp3"; e.path = folder() + "other.mp3"; }},
        {"a name that climbs", [&](ListEntry& e) { e.fileName = "../evil.mp3"; e.path = folder() + "../evil.mp3"; }},
        {"a .desktop name", [&](ListEntry& e) { e.fileName = "evil.desktop"; e.path = folder() + "evil.desktop"; }},
        {"a path of another name", [&](ListEntry& e) { e.path = folder() + "evil.desktop"; }},
        {"finished, an absolute path outside", [&](ListEntry& e) { finished(e, outside + "passwd"); }},
        {"finished, a relative path", [&](ListEntry& e) { finished(e, "downmp3/" + e.fileName); }},
        {"finished, a .desktop path", [&](ListEntry& e) { finished(e, folder() + "evil.desktop"); }},
        {"a file: address", [&](ListEntry& e) { e.url = "file://" + secret; }},
        {"an ftp address", [&](ListEntry& e) { e.url = "ftp://127.0.0.1/a.mp3"; }},
        {"an address without a host", [&](ListEntry& e) { e.url = "http:///a.mp3"; }},
    };
    {
        store::DownloadListStore writer(path_);
        std::int64_t id = 1;
        for (const HostileRow& row : rows) {
            ListEntry e;
            e.id = id++;
            e.title = row.what;
            e.url = "http://127.0.0.1:1/" + std::to_string(e.id) + ".mp3";
            e.folder = folder();
            e.fileName = e.title + ".mp3";
            e.path = folder() + e.fileName;
            row.change(e);
            writer.Save(e);
        }
        ListEntry good;
        good.id = id;
        good.title = "好歌";
        good.url = "http://127.0.0.1:1/good.mp3";
        good.folder = folder();
        good.fileName = "好歌.mp3";
        good.path = folder() + "好歌.mp3";
        writer.Save(good);
    }
    const std::vector<ListEntry> written = store::DownloadListStore(path_).TakeLoaded();
    open();
    ASSERT_EQ(model().rowCount(), static_cast<int>(rows.size()) + 1);
    ASSERT_EQ(log_.added.size(), 1u) << "only the good row starts";
    EXPECT_EQ(log_.added[0].fileName, "好歌.mp3");
    const QString reason = QString::fromUtf8(DownloadList::kUntrustedReason);
    for (const HostileRow& row : rows) {
        SCOPED_TRACE(row.what);
        const int r = rowOf(row.what);
        ASSERT_GE(r, 0);
        EXPECT_EQ(model().entry(r).state, ListState::Stopped);
        EXPECT_EQ(DownloadListModel::stateText(model().entry(r)), QStringLiteral("已停止：") + reason);
        const QString line = QStringLiteral("《") + QString::fromUtf8(row.what) + QStringLiteral("》：") + reason;
        EXPECT_EQ(lines_.count(line), 1);
        EXPECT_FALSE(list_->canOpen(r));
        EXPECT_FALSE(list_->canOpenFolder(r));
        EXPECT_FALSE(list_->canRestart(r));
        EXPECT_FALSE(list_->canStop(r));
        EXPECT_TRUE(list_->canRemove(r));
        // Asked all the same (the menu would not offer it): each says why, once.
        list_->openSong(r);
        list_->openFolder(r);
        list_->restart({r});
        list_->stop({r});
        EXPECT_EQ(lines_.count(line), 3);
    }
    EXPECT_TRUE(opened_.isEmpty());
    EXPECT_EQ(log_.added.size(), 1u);
    EXPECT_TRUE(log_.stopped.empty());
    // The file keeps them as they were written, nothing is made outside.
    ASSERT_TRUE(list_->listStore().WaitUntilWritten(60s));
    close();
    const std::vector<ListEntry> after = store::DownloadListStore(path_).TakeLoaded();
    ASSERT_EQ(after.size(), written.size());
    for (std::size_t i = 0; i + 1 < after.size(); ++i) EXPECT_EQ(after[i], written[i]) << after[i].title;
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_FALSE(fs::exists(autostart));
    // They can be removed.
    open();
    QList<int> all;
    for (int r = 0; r < model().rowCount(); ++r) all << r;
    list_->remove(all);
    ASSERT_TRUE(list_->listStore().WaitUntilWritten(60s));
    EXPECT_TRUE(statesOnDisk().empty());
}

// 打开歌曲 opens a finished song only while its file is the one the list
// wrote: the same file, not one put in its place, also after a restart.
TEST_F(DownloadListRules, AFinishedSongOpensOnlyWhileItIsTheFileTheListWrote) {
    const std::string elsewhere = dir_.file("elsewhere.mp3");
    std::ofstream(elsewhere) << "song";
    // Written beside it first, then moved over it: a file of its own, never
    // the inode the song had.
    const auto replace = [](const std::string& path, const std::string& bytes) {
        std::ofstream(path + ".new") << bytes;
        fs::rename(path + ".new", path);
    };
    struct Case {
        const char* title;
        std::function<void(const std::string& path)> change;
        const char* refusal;  // nullptr: opened
    };
    const char* replaced = "：这个文件已经不是下载列表下载的那个文件";
    const std::vector<Case> cases = {
        {"原样", [](const std::string&) {}, nullptr},
        {"换了", [&](const std::string& p) { replace(p, "evil"); }, replaced},
        {"长了", [](const std::string& p) { std::ofstream(p, std::ios::app) << "more"; }, replaced},
        {"链接", [&](const std::string& p) { fs::remove(p); fs::create_symlink(elsewhere, p); }, replaced},
        {"文件夹", [](const std::string& p) { fs::remove(p); fs::create_directory(p); }, replaced},
        {"没了", [](const std::string& p) { fs::remove(p); }, "：文件已经不在了"},
    };
    open();
    fs::create_directories(folder());
    for (const Case& c : cases) {
        const QString title = QString::fromUtf8(c.title);
        list_->add({{title, QStringLiteral("http://h/") + title}});
        const std::string path = folder() + c.title + ".mp3";
        std::ofstream(path) << "song";
        downloader_->reports_.ended(idOf(c.title), saved(path, 4), 4, 4);
    }
    for (const bool restarted : {false, true}) {
        SCOPED_TRACE(restarted ? "after a restart" : "in the run that finished it");
        if (restarted) {
            close();
            open();
        }
        for (const Case& c : cases) {
            if (!restarted) c.change(folder() + c.title + ".mp3");
            const QString path = QString::fromStdString(folder() + c.title + ".mp3");
            opened_.clear();
            const int before = lines_.size();
            list_->openSong(rowOf(c.title));
            if (!c.refusal) {
                EXPECT_EQ(opened_, QList<QUrl>{QUrl::fromLocalFile(path)}) << c.title;
                EXPECT_EQ(lines_.size(), before);
            } else {
                EXPECT_TRUE(opened_.isEmpty()) << c.title;
                ASSERT_EQ(lines_.size(), before + 1) << c.title;
                EXPECT_EQ(lines_.last(), QStringLiteral("无法打开歌曲 ") + path + QString::fromUtf8(c.refusal));
            }
        }
    }
    // A finished row without the file's identity (an earlier version's) is not opened.
    close();
    storetest::execSql(path_, "update downloadlist set identity = ''");
    open();
    list_->openSong(rowOf("原样"));
    EXPECT_TRUE(opened_.isEmpty());
    EXPECT_TRUE(lines_.last().endsWith(QString::fromUtf8(replaced)));
}

// Which row 下载歌曲 and 下载到... find the list fetching: the same address
// into the same file, while it waits or downloads.
TEST_F(DownloadListRules, TheSongTheListIsFetchingIsFoundByAddressAndFile) {
    open();
    list_->add({{QStringLiteral("月亮/1"), QStringLiteral("http://h/a.mp3")}, {QStringLiteral("二"), QStringLiteral("http://h/b.mp3")}});
    downloader_->reports_.started(idOf("月亮/1"));
    downloader_->reports_.ended(idOf("二"), saved(folder() + "二.mp3", 4), 4, 4);
    struct Case {
        const char* what;
        std::string url, folder, fileName;
        int row;
    };
    const std::vector<Case> cases = {
        {"the same song", "http://h/a.mp3", "downmp3/", "月亮/1.mp3", 0},
        {"the same file by its safe name", "http://h/a.mp3", folder(), "月亮_1.mp3", 0},
        {"another address", "http://h/x.mp3", "downmp3/", "月亮/1.mp3", -1},
        {"another folder", "http://h/a.mp3", dir_.path().string() + "/", "月亮/1.mp3", -1},
        {"another name", "http://h/a.mp3", "downmp3/", "月亮 (2).mp3", -1},
        {"a song that has ended", "http://h/b.mp3", "downmp3/", "二.mp3", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(list_->rowFetching(c.url, c.folder, c.fileName), c.row) << c.what;
}

// Saving stops and works again: one log line each, and what was changed
// meanwhile is in the file once the lock goes.
TEST_F(DownloadListRules, SavingThatStopsAndWorksAgainIsSaidOnceEach) {
    open();
    list_->add({{QStringLiteral("甲"), QStringLiteral("http://h/1")}});
    ASSERT_TRUE(list_->listStore().WaitUntilWritten(60s));
    close();
    auto downloader = std::make_unique<RecordingDownloader>(log_);
    downloader_ = downloader.get();
    list_ = std::make_unique<DownloadList>(path_, "downmp3/", std::move(downloader),
                                           [this](const QString& line) { lines_ << line; }, nullptr, 200ms);
    list_->start();
    const QString stopped = QStringLiteral("下载列表无法保存到歌曲库文件");
    const QString again = QStringLiteral("下载列表又能保存到歌曲库文件了。");
    storetest::OtherConnection other(path_);
    other.holdWriteLock();
    list_->add({{QStringLiteral("乙"), QStringLiteral("http://h/2")}});
    ASSERT_TRUE(testsupport::pumpUntil([&] { return !lines_.filter(stopped).isEmpty(); }));
    list_->add({{QStringLiteral("丙"), QStringLiteral("http://h/3")}});
    downloader_->reports_.ended(idOf("甲"), failed("无法连接到服务器"), 0, 0);
    ASSERT_TRUE(list_->listStore().WaitUntilWritten(60s));
    other.release();
    ASSERT_TRUE(testsupport::pumpUntil([&] { return lines_.contains(again); }));
    EXPECT_EQ(lines_.filter(stopped).size(), 1);
    EXPECT_EQ(lines_.count(again), 1);
    EXPECT_TRUE(lines_.filter(stopped).first().endsWith(QStringLiteral("改动先留在内存里，歌曲库文件可以写入时再保存。")));
    const auto onDisk = statesOnDisk();
    EXPECT_EQ(onDisk.size(), 3u);
    EXPECT_EQ(onDisk.at(idOf("甲")), static_cast<int>(ListState::Failed));
}

// Only http and https addresses join the list: it would not trust any
// other when it reads the row back.
TEST_F(DownloadListRules, OnlyWebAddressesAreAdded) {
    open();
    const DownloadList::Added added = list_->add({{QStringLiteral("甲"), QStringLiteral("file:///etc/passwd")},
                                                  {QStringLiteral("乙"), QStringLiteral("ftp://h/a.mp3")},
                                                  {QStringLiteral("丙"), QStringLiteral("HTTPS://h/a.mp3")}});
    EXPECT_EQ(added.added, 1);
    EXPECT_EQ(added.notWebAddress, 2);
    EXPECT_EQ(lines_.last(), QStringLiteral("已把 1 首歌曲加入下载列表；2 首的地址不是 http 或 https 地址，没有加入。"));
}

// A title of ten million characters from the store is shown cut; the row
// keeps it whole, and the log line of its end is cut too.
TEST_F(DownloadListRules, AHugeTitleIsShownCut) {
    const std::string title(10'000'000, 'x');
    {
        store::DownloadListStore writer(path_);
        ListEntry e;
        e.id = 1;
        e.title = title;
        e.url = "http://h/1";
        e.folder = folder();
        e.fileName = title + ".mp3";
        e.state = ListState::Stopped;
        e.path = folder() + e.fileName;
        writer.Save(e);
    }
    open();
    ASSERT_EQ(model().rowCount(), 1);
    EXPECT_EQ(model().entry(0).title, title);
    EXPECT_EQ(list_->canRestart(0), true) << "the program could have written it";
    for (const int column : {DownloadListModel::SongColumn, DownloadListModel::PathColumn}) {
        const QString shown = model().data(model().index(0, column)).toString();
        EXPECT_LE(shown.size(), DownloadListModel::kShownChars + 1) << column;
        EXPECT_TRUE(shown.endsWith(QStringLiteral("…"))) << column;
    }
    list_->restart({0});
    downloader_->reports_.ended(1, failed("无法连接到服务器"), 0, 0);
    EXPECT_LE(lines_.last().size(), DownloadListModel::kShownChars + 100);
    // A short title is shown whole, a cut never halves a character.
    EXPECT_EQ(DownloadListModel::shownText("月亮"), QStringLiteral("月亮"));
    const QString cut = DownloadListModel::shownText(std::string(999, 'a') + "😀😀");
    EXPECT_EQ(cut, QString(999, QLatin1Char('a')) + QStringLiteral("…"));
}

// One program at a time runs a store's list. With the program itself
// running on the store, a list opened on it shows the rows, says who runs
// them, and neither starts its waiting songs nor changes a row; once that
// program has ended, the next list runs them.
TEST_F(DownloadListRules, ASecondProgramOnTheStoreShowsTheListAndLeavesItAlone) {
    testsupport::ToolProcess first(testsupport::toolNextToTests("brelvomp3"), {}, {"QT_QPA_PLATFORM=offscreen"},
                                   dir_.path());
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(apptest::storeOpened(first.pid())) << first.err();
    // Written after the first program read its list, so it never starts it.
    {
        store::DownloadListStore writer(path_);
        ListEntry e;
        e.id = 1;
        e.title = "等着";
        e.url = "http://127.0.0.1:1/a.mp3";
        e.folder = folder();
        e.fileName = "等着.mp3";
        e.path = folder() + "等着.mp3";
        writer.Save(e);
    }
    open();
    EXPECT_TRUE(list_->runByOther());
    EXPECT_TRUE(log_.added.empty());
    ASSERT_EQ(model().rowCount(), 1);
    EXPECT_EQ(stateOf("等着"), ListState::Waiting);
    EXPECT_TRUE(lines_.contains(QStringLiteral("下载列表由另一个 BrelvoMP3 运行：这里只显示它，不下载其中的歌曲，也不改动它。")))
        << lines_.join('\n').toStdString();
    EXPECT_FALSE(list_->canStop(0));
    EXPECT_FALSE(list_->canRemove(0));
    list_->stop({0});
    list_->remove({0});
    EXPECT_EQ(list_->add({{QStringLiteral("新"), QStringLiteral("http://h/new.mp3")}}).added, 0);
    EXPECT_EQ(lines_.last(), QStringLiteral("下载列表由另一个 BrelvoMP3 运行，歌曲没有加入。请在那个 BrelvoMP3 中加入。"));
    EXPECT_TRUE(log_.added.empty());
    EXPECT_EQ(stateOf("等着"), ListState::Waiting);
    close();

    first.signal(SIGTERM);
    ASSERT_TRUE(first.waitForExit(std::chrono::seconds(30)));
    EXPECT_EQ(first.exitCode(), 0);
    // The kernel let its lock go with it.
    open();
    EXPECT_FALSE(list_->runByOther());
    ASSERT_EQ(log_.added.size(), 1u);
    EXPECT_EQ(log_.added[0].id, 1);
}

namespace {

// Records what the list asks and answers when the test says.
class RecordingFinder : public app::NextLinkFinder {
public:
    explicit RecordingFinder(std::vector<Ask>& asks) : asks_(asks) {}
    void setAnswer(std::function<void(const Found&)> answer) override { answer_ = std::move(answer); }
    void find(const Ask& ask) override { asks_.push_back(ask); }
    void stopAll() override {}
    std::function<void(const Found&)> answer_;

private:
    std::vector<Ask>& asks_;
};

DownloadOutcome deadLink(int status) {
    DownloadOutcome o = failed("服务器上没有这首歌");
    o.errorCode = dl::kErrServerRefused;
    o.statusCode = status;
    o.failure = dl::ClassOfFailure(o.errorCode, status);
    o.linkAtFault = true;
    return o;
}

}  // namespace

// A song whose link fails for good asks for its next one and goes on there;
// the row and the log say which link it is on, and why the last one failed.
// A song with no other link ends as it always did; one stopped while it
// waits for its next link stays stopped.
TEST_F(DownloadListRules, ASongWhoseLinkIsDeadMovesToItsNextLink) {
    std::vector<app::NextLinkFinder::Ask> asks;
    auto finder = std::make_unique<RecordingFinder>(asks);
    RecordingFinder* links = finder.get();
    auto downloader = std::make_unique<RecordingDownloader>(log_);
    downloader_ = downloader.get();
    list_ = std::make_unique<DownloadList>(path_, "downmp3/", std::move(downloader),
                                           [this](const QString& line) { lines_ << line; });
    list_->setNextLinkFinder(std::move(finder));
    list_->start();
    list_->add({{QStringLiteral("月亮"), QStringLiteral("http://dead/a.mp3")},
                {QStringLiteral("星星"), QStringLiteral("http://dead/b.mp3")},
                {QStringLiteral("太阳"), QStringLiteral("http://dead/c.mp3")}});
    ASSERT_EQ(log_.added.size(), 3u);
    const std::int64_t moon = idOf("月亮"), star = idOf("星星"), sun = idOf("太阳");

    // 月亮: link 1 dead, link 2 a page, link 3 the song.
    downloader_->reports_.ended(moon, deadLink(404), 0, 0);
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(asks[0].tried, (std::vector<std::string>{"http://dead/a.mp3"}));
    EXPECT_EQ(asks[0].title, "月亮");
    EXPECT_EQ(asks[0].statusCode, 404);
    EXPECT_EQ(stateOf("月亮"), ListState::Waiting);
    EXPECT_EQ(DownloadListModel::stateText(model().entry(rowOf("月亮"))),
              QStringLiteral("等待：第 1 个链接失败（HTTP 404），正在找下一个链接"));
    links->answer_({moon, "http://live/a2.htm", false});
    ASSERT_EQ(log_.added.size(), 4u);
    EXPECT_EQ(log_.added.back().url, "http://live/a2.htm");
    EXPECT_TRUE(log_.added.back().audioOnly);
    EXPECT_EQ(log_.added.back().fileName, "月亮.mp3");  // the song keeps its name
    EXPECT_EQ(model().entry(rowOf("月亮")).reason, "换用第 2 个链接：上一个 HTTP 404");
    EXPECT_EQ(lines_.last(),
              QStringLiteral("《月亮》：第 1 个链接失败（HTTP 404），换用第 2 个链接 http://live/a2.htm"));
    DownloadOutcome page = failed("地址给出的不是歌曲");
    page.errorCode = dl::kErrNotAudio;
    page.failure = dl::FailureClass::NotAudio;
    page.linkAtFault = true;
    downloader_->reports_.ended(moon, page, 0, 0);
    ASSERT_EQ(asks.size(), 2u);
    EXPECT_EQ(asks[1].tried, (std::vector<std::string>{"http://dead/a.mp3", "http://live/a2.htm"}));
    links->answer_({moon, "http://live/a3.mp3", true});
    EXPECT_EQ(model().entry(rowOf("月亮")).reason, "换用第 3 个链接：上一个 不是歌曲");
    EXPECT_TRUE(lines_.last().endsWith(QStringLiteral("，接着已下载的部分下载")));
    downloader_->reports_.ended(moon, saved(folder() + "月亮.mp3", 10), 10, 10);
    EXPECT_EQ(stateOf("月亮"), ListState::Finished);
    EXPECT_EQ(model().entry(rowOf("月亮")).reason, "");
    EXPECT_TRUE(lines_.last().endsWith(QStringLiteral("（第 3 个链接 http://live/a3.mp3）"))) << lines_.last().toStdString();

    // 星星: no other link: it fails as a song of one link does.
    downloader_->reports_.ended(star, deadLink(410), 0, 0);
    links->answer_({star, "", false});
    EXPECT_EQ(stateOf("星星"), ListState::Failed);
    EXPECT_EQ(model().entry(rowOf("星星")).reason, "服务器上没有这首歌");
    EXPECT_EQ(lines_.last(), app::outcomeLogLine(QStringLiteral("星星"), deadLink(410)));

    // 太阳: stopped while it waits for its next link; the late answer changes nothing.
    downloader_->reports_.ended(sun, deadLink(404), 0, 0);
    list_->stop({rowOf("太阳")});
    const std::size_t added = log_.added.size();
    links->answer_({sun, "http://live/c2.mp3", false});
    EXPECT_EQ(stateOf("太阳"), ListState::Stopped);
    EXPECT_EQ(log_.added.size(), added);
    EXPECT_EQ(model().entry(rowOf("太阳")).url, "http://dead/c.mp3");

    // Downloaded again, every link is tried afresh; when all fail, each is named.
    list_->restart({rowOf("太阳")});
    downloader_->reports_.ended(sun, deadLink(404), 0, 0);
    links->answer_({sun, "http://other/c2.mp3", false});
    downloader_->reports_.ended(sun, deadLink(503), 0, 0);
    EXPECT_EQ(asks.back().tried, (std::vector<std::string>{"http://dead/c.mp3", "http://other/c2.mp3"}));
    links->answer_({sun, "", false});
    EXPECT_EQ(stateOf("太阳"), ListState::Failed);
    EXPECT_EQ(model().entry(rowOf("太阳")).reason, "试过的 2 个链接都不行：第 1 个链接 HTTP 404；第 2 个链接 HTTP 503");

    // A failure that is not the link's (a full disk) asks for nothing.
    const std::size_t asked = asks.size();
    list_->restart({rowOf("星星")});
    DownloadOutcome disk = failed("无法写入文件：磁盘已满");
    disk.errorCode = dl::kErrDiskFull;
    disk.failure = dl::FailureClass::DiskFailed;
    downloader_->reports_.ended(star, disk, 0, 0);
    EXPECT_EQ(asks.size(), asked);
    EXPECT_EQ(stateOf("星星"), ListState::Failed);
}

// A song the list has finished is not added again while its file is the one
// the list saved; once it is gone or changed, adding fetches it again.
TEST_F(DownloadListRules, FinishedSongsAreNotAddedAgainWhileTheirFileIsThere) {
    struct Case {
        const char* title;
        bool page;  // saved as a web page
        // What happens to the file after the song finished.
        std::function<void(const std::string& path)> meanwhile;
        bool restartProgram;
        bool addedAgain;
    };
    const auto nothing = [](const std::string&) {};
    const std::vector<Case> cases = {
        {"原样", false, nothing, false, false},
        {"网页", true, nothing, false, false},
        {"重启之后", false, nothing, true, false},
        {"删了", false, [](const std::string& p) { fs::remove(p); }, false, true},
        {"长了", false, [](const std::string& p) { std::ofstream(p, std::ios::app) << "more"; }, false, true},
        {"换了",
         false,
         [](const std::string& p) {
             fs::remove(p);
             std::ofstream(p) << "song";
         },
         false, true},
        {"链接",
         false,
         [](const std::string& p) {
             fs::rename(p, p + ".real");
             fs::create_symlink(p + ".real", p);
         },
         false, true},
        {"删了重启", false, [](const std::string& p) { fs::remove(p); }, true, true},
    };
    open();
    fs::create_directories(folder());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        const DownloadList::Song song{QString::fromUtf8(c.title), QStringLiteral("http://h/") + QString::fromUtf8(c.title)};
        ASSERT_EQ(list_->add({song}).added, 1);
        const std::string path = folder() + c.title + (c.page ? ".mp3.htm" : ".mp3");
        // A file of a size no later change keeps: "song" is 4 bytes, the file 5.
        std::ofstream(path) << "songs";
        downloader_->reports_.ended(idOf(c.title), c.page ? page(path, 5) : saved(path, 5), 5, 5);
        ASSERT_EQ(stateOf(c.title), ListState::Finished);
        c.meanwhile(path);
        if (c.restartProgram) {
            ASSERT_TRUE(list_->listStore().WaitUntilWritten(60s));
            close();
            open();
        }
        const int rows = model().rowCount();
        const std::size_t handed = log_.added.size();
        const DownloadList::Added again = list_->add({song});
        EXPECT_EQ(again.added, c.addedAgain ? 1 : 0);
        EXPECT_EQ(again.alreadyDone, c.addedAgain ? 0 : 1);
        EXPECT_EQ(model().rowCount(), rows + (c.addedAgain ? 1 : 0));
        EXPECT_EQ(log_.added.size(), handed + (c.addedAgain ? 1u : 0u));
        EXPECT_EQ(lines_.last(), c.addedAgain ? QStringLiteral("已把 1 首歌曲加入下载列表。")
                                              : QStringLiteral("1 首已经下载过，没有再加入。"));
    }
    // The count stands beside the others, in their order.
    const DownloadList::Added mixed = list_->add({{QStringLiteral("原样"), QStringLiteral("http://h/原样")},
                                                  {QStringLiteral("删了"), QStringLiteral("http://h/删了")},
                                                  {QStringLiteral("新歌"), QStringLiteral("http://h/新歌")},
                                                  {QStringLiteral("空"), QString()}});
    EXPECT_EQ(mixed.added, 1);
    EXPECT_EQ(mixed.alreadyThere, 1);
    EXPECT_EQ(mixed.alreadyDone, 1);
    EXPECT_EQ(lines_.last(), QStringLiteral("已把 1 首歌曲加入下载列表；1 首已经在下载列表中等待或下载，没有再加入；"
                                            "1 首已经下载过，没有再加入；1 首没有下载地址，没有加入。"));
    // 重新下载 still fetches a finished song again.
    const std::size_t handed = log_.added.size();
    list_->restart({rowOf("原样")});
    EXPECT_EQ(log_.added.size(), handed + 1);
    EXPECT_EQ(log_.added.back().fileName, "原样.mp3");
}

// The list's index of its rows against the rows themselves: after each of
// many adds, stops, ends, restarts and removes, a song waiting or
// downloading is found and not added twice, no two rows waiting or
// downloading write one file, and a new song of a title takes the lowest
// number no such row writes.
TEST_F(DownloadListRules, TheIndexKeepsStepWithTheRowsThroughEveryChange) {
    open();
    const std::vector<QString> titles = {QStringLiteral("月亮"), QStringLiteral("星星"), QStringLiteral("太阳")};
    std::uint32_t seed = 12345;
    const auto next = [&seed](std::uint32_t below) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % below;
    };
    const auto isActive = [](const ListEntry& e) { return e.state == ListState::Waiting || e.state == ListState::Downloading; };
    // The name a new song of `title` gets, found by looking at every row.
    const auto lowestFree = [&](const QString& title) {
        for (int n = 1;; ++n) {
            const std::string name = app::listFileName(title.toStdString(), n);
            bool taken = false;
            for (int row = 0; row < model().rowCount() && !taken; ++row)
                taken = isActive(model().entry(row)) && model().entry(row).fileName == name;
            if (!taken) return name;
        }
    };
    for (int step = 0; step < 1500; ++step) {
        SCOPED_TRACE(step);
        const int rows = model().rowCount();
        const std::uint32_t what = next(10);
        if (what < 4 || rows == 0) {
            const QString title = titles[next(3)];
            const DownloadList::Song song{title, QStringLiteral("http://h/%1/%2").arg(title).arg(next(12))};
            bool active = false;
            for (int row = 0; row < rows; ++row) {
                const ListEntry& e = model().entry(row);
                active = active || (isActive(e) && e.url == song.url.toStdString() && e.title == title.toStdString());
            }
            const std::string expected = lowestFree(title);
            const DownloadList::Added added = list_->add({song});
            ASSERT_EQ(added.alreadyThere, active ? 1 : 0);
            ASSERT_EQ(added.added, active ? 0 : 1);
            if (!active) {
                ASSERT_EQ(model().entry(model().rowCount() - 1).fileName, expected);
            }
        } else {
            const int row = static_cast<int>(next(static_cast<std::uint32_t>(rows)));
            const std::int64_t id = model().entry(row).id;
            const bool running = model().runOf(id)->inDownloader;
            switch (what) {
            case 4: list_->stop({row}); break;
            case 5: list_->restart({row}); break;
            case 6: list_->remove({row}); break;
            case 7:
                if (isActive(model().entry(row))) downloader_->reports_.ended(id, failed("无法连接到服务器"), 0, 0);
                break;
            default:
                if (isActive(model().entry(row))) downloader_->reports_.ended(id, saved(model().entry(row).path, 4), 4, 4);
                break;
            }
            // A stopped song's end comes later, as the downloader tells it.
            if ((what == 4 || what == 6) && running) downloader_->reports_.ended(id, cancelled(), 0, 0);
        }
        std::set<std::string> written;
        for (int r = 0; r < model().rowCount(); ++r) {
            const ListEntry& e = model().entry(r);
            if (!isActive(e)) continue;
            ASSERT_TRUE(written.insert(e.fileName).second) << e.fileName;
            ASSERT_EQ(list_->rowFetching(e.url, "downmp3/", e.fileName), r) << e.fileName;
        }
    }
}

// Many songs go in a slice at a time: the event loop turns between slices,
// every song is added once, and a second add waits for the first.
TEST_F(DownloadListRules, ManySongsAreAddedInSlicesWhileTheLoopTurns) {
    open();
    constexpr std::size_t kSongs = 20000;
    const auto songAt = [](std::size_t i) {
        return DownloadList::Song{QStringLiteral("歌 %1").arg(i % 5000), QStringLiteral("http://h/%1.mp3").arg(i)};
    };
    int ticks = 0, ticksWhileAdding = 0;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        if (list_->adding()) ++ticksWhileAdding;
    });
    ticker.start();
    std::vector<DownloadList::Added> done;
    list_->add(kSongs, songAt, [&](const DownloadList::Added& added) { done.push_back(added); });
    // The first slice has run; the rest is to come.
    EXPECT_TRUE(list_->adding());
    EXPECT_GT(model().rowCount(), 0);
    EXPECT_LT(static_cast<std::size_t>(model().rowCount()), kSongs);
    // The same songs again, behind the first add.
    list_->add(kSongs, songAt, [&](const DownloadList::Added& added) { done.push_back(added); });
    ASSERT_TRUE(testsupport::pumpUntil([&] { return done.size() == 2; }, 120000));
    EXPECT_GT(ticksWhileAdding, 1);
    EXPECT_EQ(done[0].added, static_cast<int>(kSongs));
    EXPECT_EQ(done[1].added, 0);
    EXPECT_EQ(done[1].alreadyThere, static_cast<int>(kSongs));
    ASSERT_EQ(model().rowCount(), static_cast<int>(kSongs));
    ASSERT_EQ(log_.added.size(), kSongs);
    std::set<std::string> urls, files;
    for (const auto& song : log_.added) {
        urls.insert(song.url);
        files.insert(song.fileName);
    }
    EXPECT_EQ(urls.size(), kSongs);
    EXPECT_EQ(files.size(), kSongs);
    // Four songs of each title: " (2)" to " (4)" for the later ones.
    EXPECT_EQ(model().entry(model().rowOf(log_.added[15000].id)).fileName, "歌 0 (4).mp3");
    EXPECT_TRUE(lines_.contains(QStringLiteral("正在把 20000 首歌曲加入下载列表……")));
    EXPECT_TRUE(lines_.contains(QStringLiteral("已把 20000 首歌曲加入下载列表。")));
    EXPECT_EQ(lines_.last(), QStringLiteral("20000 首已经在下载列表中等待或下载，没有再加入。"));
    ASSERT_TRUE(list_->listStore().WaitUntilWritten(60s));
    EXPECT_EQ(statesOnDisk().size(), kSongs);
    EXPECT_GT(ticks, 0);
}

// Closing the list ends an add that is going on: what is in stays, and no
// slice runs after.
TEST_F(DownloadListRules, ClosingEndsAnAddGoingOn) {
    open();
    bool told = false;
    list_->add(
        100000, [](std::size_t i) { return DownloadList::Song{QStringLiteral("歌"), QStringLiteral("http://h/%1").arg(i)}; },
        [&](const DownloadList::Added&) { told = true; });
    ASSERT_TRUE(list_->adding());
    list_->shutdown();
    const int rows = model().rowCount();
    EXPECT_FALSE(list_->adding());
    testsupport::pumpUntil([] { return false; }, 100);
    EXPECT_EQ(model().rowCount(), rows);
    EXPECT_FALSE(told);
}

// A song in a pause before another attempt counts it down in its state,
// once a second, and shows no speed meanwhile (nothing arrives, nothing
// hangs); when the attempt begins it downloads again, measured afresh.
TEST_F(DownloadListRules, APauseBeforeAnotherAttemptCountsDown) {
    open();
    std::int64_t now = 0;
    model().setClock([&now] { return now; });
    list_->add({{QStringLiteral("等"), QStringLiteral("http://h/等.mp3")}});
    const std::int64_t id = idOf("等");
    const auto cell = [&](int column) { return model().data(model().index(rowOf("等"), column)).toString(); };
    downloader_->reports_.started(id);
    downloader_->reports_.progress(id, 1000, 100000);
    downloader_->reports_.retryWait(id, std::chrono::seconds(50));
    model().flush();
    EXPECT_EQ(cell(DownloadListModel::StateColumn), QStringLiteral("等待重试（50 秒后）"));
    EXPECT_EQ(cell(DownloadListModel::SpeedColumn), QString());
    EXPECT_EQ(cell(DownloadListModel::TimeLeftColumn), QString());
    const int refreshed = model().refreshes(rowOf("等"));
    struct Step {
        std::int64_t at;
        const char* shown;
    };
    // Whole seconds left, rounded up: 49 as soon as a second has gone.
    for (const Step& step : {Step{400, "等待重试（50 秒后）"}, Step{1000, "等待重试（49 秒后）"},
                             Step{1600, "等待重试（49 秒后）"}, Step{12000, "等待重试（38 秒后）"},
                             Step{50000, "等待重试（0 秒后）"}}) {
        now = step.at;
        model().flush();
        EXPECT_EQ(cell(DownloadListModel::StateColumn), QString::fromUtf8(step.shown)) << step.at;
    }
    // The row was repainted for each new second, not more often.
    EXPECT_EQ(model().refreshes(rowOf("等")), refreshed + 3);
    EXPECT_EQ(stateOf("等"), ListState::Downloading);

    downloader_->reports_.retryWait(id, std::chrono::milliseconds(0));
    model().flush();
    EXPECT_EQ(cell(DownloadListModel::StateColumn), QStringLiteral("正在下载"));
    EXPECT_EQ(cell(DownloadListModel::SpeedColumn), QStringLiteral("—"));

    // A pause that ends the song (stopped in it) leaves no countdown behind.
    downloader_->reports_.retryWait(id, std::chrono::seconds(9));
    list_->stop({rowOf("等")});
    downloader_->reports_.ended(id, cancelled(), 0, 0);
    model().flush();
    EXPECT_EQ(cell(DownloadListModel::StateColumn), QStringLiteral("已停止"));
    EXPECT_FALSE(model().inRetryWait(id));
}

// 优先下载 applies to songs that wait for their place; the downloader is
// told the waiting ones of the chosen rows, in the rows' order.
TEST_F(DownloadListRules, MoveToFrontTakesTheWaitingRowsOnly) {
    open();
    QList<DownloadList::Song> songs;
    for (const char* title : {"一", "二", "三", "四", "五"})
        songs.push_back({QString::fromUtf8(title), QStringLiteral("http://h/") + QString::fromUtf8(title)});
    list_->add(songs);
    downloader_->reports_.started(idOf("一"));
    list_->stop({rowOf("五")});
    struct Case {
        const char* title;
        bool applies;
    };
    for (const Case& c : {Case{"一", false}, Case{"二", true}, Case{"三", true}, Case{"四", true}, Case{"五", false}})
        EXPECT_EQ(list_->canMoveToFront(rowOf(c.title)), c.applies) << c.title;
    EXPECT_FALSE(list_->canMoveToFront(-1));
    EXPECT_FALSE(list_->canMoveToFront(model().rowCount()));

    list_->moveToFront({rowOf("一"), rowOf("四"), rowOf("三"), rowOf("五")});
    ASSERT_EQ(log_.movedToFront.size(), 1u);
    EXPECT_EQ(log_.movedToFront[0], (std::vector<std::int64_t>{idOf("四"), idOf("三")}));
    // Nothing that waits among the rows: nothing is asked.
    list_->moveToFront({rowOf("一"), rowOf("五")});
    EXPECT_EQ(log_.movedToFront.size(), 1u);
}

// 优先下载 is kept: on the next start the songs moved ahead start first, as
// they stood (the last moved first), then the others in the order they were
// added; a song downloaded again leaves its place for the end of the queue.
TEST_F(DownloadListRules, TheSongsMovedAheadKeepTheirPlaceAcrossARestart) {
    open();
    QList<DownloadList::Song> songs;
    for (const char* title : {"一", "二", "三", "四", "五", "六"})
        songs.push_back({QString::fromUtf8(title), QStringLiteral("http://h/") + QString::fromUtf8(title)});
    list_->add(songs);
    downloader_->reports_.started(idOf("一"));
    list_->moveToFront({rowOf("四"), rowOf("五")});
    list_->moveToFront({rowOf("六")});
    list_->moveToFront({rowOf("三")});
    list_->stop({rowOf("三")});
    downloader_->reports_.ended(idOf("三"), cancelled(), 0, 0);
    list_->restart({rowOf("三")});
    const std::vector<std::int64_t> expected = {idOf("六"), idOf("四"), idOf("五"), idOf("一"), idOf("二"), idOf("三")};
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(list_->listStore().WaitUntilWritten(60s));
        close();
        log_.added.clear();
        open();
        std::vector<std::int64_t> handed;
        for (const auto& song : log_.added) handed.push_back(song.id);
        EXPECT_EQ(handed, expected);
    }
    // Moved again after the restart: ahead of the places kept.
    list_->moveToFront({rowOf("二")});
    ASSERT_TRUE(list_->listStore().WaitUntilWritten(60s));
    close();
    log_.added.clear();
    open();
    ASSERT_FALSE(log_.added.empty());
    EXPECT_EQ(log_.added.front().id, idOf("二"));
    EXPECT_EQ(log_.added.size(), expected.size());
}

// The list's settings reach its downloader at once, cut to their ranges;
// what the file keeps is read back, and what no dialog could have written
// reads as the default.
TEST_F(DownloadListRules, SettingsReachTheDownloaderAndTheFile) {
    open();
    app::ListSettings chosen;
    chosen.atATime = 4;
    chosen.limitSpeed = true;
    chosen.limitKBps = 64;
    list_->applySettings(chosen);
    EXPECT_EQ(log_.places, (std::vector<int>{4}));
    EXPECT_EQ(log_.speedLimits, (std::vector<std::int64_t>{64 * 1024}));
    chosen.atATime = 9;
    chosen.limitSpeed = false;
    list_->applySettings(chosen);
    EXPECT_EQ(log_.places.back(), app::ListSettings::kMaxAtATime);
    EXPECT_EQ(log_.speedLimits.back(), 0);
    EXPECT_EQ(list_->settings().atATime, app::ListSettings::kMaxAtATime);

    app::ListSettings kept;
    kept.atATime = 3;
    kept.limitSpeed = true;
    kept.limitKBps = 100;
    app::saveListSettings(kept);
    EXPECT_EQ(app::loadListSettings(), kept);
    struct Case {
        const char* key;
        QVariant value;
    };
    for (const Case& c : {Case{"downloadList/atATime", 0}, Case{"downloadList/atATime", 6},
                          Case{"downloadList/atATime", QStringLiteral("zwei")},
                          Case{"downloadList/limitKBps", -5}, Case{"downloadList/limitKBps", QStringLiteral("1e99")}}) {
        app::saveListSettings(kept);
        app::programSettings()->setValue(QString::fromUtf8(c.key), c.value);
        const app::ListSettings read = app::loadListSettings();
        EXPECT_EQ(QString::fromUtf8(c.key) == QStringLiteral("downloadList/atATime") ? read.atATime : read.limitKBps,
                  QString::fromUtf8(c.key) == QStringLiteral("downloadList/atATime")
                      ? app::ListSettings::kDefaultAtATime
                      : app::ListSettings::kDefaultLimitKBps)
            << c.key << " " << c.value.toString().toStdString();
    }
    // Back to the defaults for the tests after this one.
    app::saveListSettings(app::ListSettings{});
}
