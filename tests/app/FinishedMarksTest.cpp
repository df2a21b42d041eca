// Songs already downloaded as the grid shows them: what a finished download
// records, the checker that writes the records and looks at their files on
// its thread, and the rows' marks and tooltips for a file kept, deleted or
// replaced, beside a link's verdict; the three columns stay as they are.
#include <filesystem>
#include <optional>

#include <QColor>
#include <QDir>
#include <QIcon>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "app/FinishedSongRecorder.h"
#include "store/FinishedSongStore.h"
#include "store/SongStore.h"
#include "store/view/FinishedSongChecker.h"
#include "store/view/FinishedSongMarks.h"
#include "store/view/GridFinishedSongs.h"
#include "store/view/GridVerdicts.h"
#include "store/view/LinkVerdictMarks.h"
#include "store/view/SongTableModel.h"
#include "tests/app/AppTestSupport.h"

namespace {

namespace fs = std::filesystem;
using apptest::pumpUntil;
using store::FinishedFileState;
using store::FinishedSong;

constexpr std::int64_t kNow = 1796800000;

app::DownloadOutcome outcome(app::DownloadOutcome::Kind kind, const fs::path& path) {
    app::DownloadOutcome o;
    o.kind = kind;
    o.path = QString::fromStdString(path.string());
    return o;
}

int tables(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "select count(*) from sqlite_master where type = 'table'", -1, &s, nullptr);
    const int count = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
    sqlite3_finalize(s);
    sqlite3_close(db);
    return count;
}

TEST(FinishedSongRecorder, RecordsTheSavedFileAsItIsNowAndNothingElse) {
    apptest::WorkDir work;
    fs::create_directories(work.downloads());
    const fs::path saved = work.downloads() / "月亮.mp3";
    apptest::writeFile(saved, std::string(4096, 'a'));
    std::vector<FinishedSong> kept;
    app::FinishedSongRecorder recorder([&](FinishedSong song) { kept.push_back(std::move(song)); },
                                       [] { return kNow; });
    using Kind = app::DownloadOutcome::Kind;
    // Relative to the working folder, as 下载歌曲 names it.
    recorder.songEnded("月亮", "http://h/1.mp3", outcome(Kind::Saved, fs::path("downmp3") / "月亮.mp3"));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].url, "http://h/1.mp3");
    EXPECT_EQ(kept[0].title, "月亮");
    // Against the working folder as the process names it (a temp folder may lie behind a link).
    EXPECT_EQ(kept[0].path, (fs::current_path() / "downmp3" / "月亮.mp3").string());
    EXPECT_EQ(kept[0].size, 4096);
    EXPECT_EQ(kept[0].finishedAt, kNow);
    EXPECT_EQ(store::checkFinishedFile(kept[0]), FinishedFileState::Kept);

    apptest::writeFile(work.downloads() / "page.mp3.htm", "<html>");
    recorder.songEnded("page", "http://h/2.mp3", outcome(Kind::SavedAsPage, work.downloads() / "page.mp3.htm"));
    recorder.songEnded("failed", "http://h/3.mp3", outcome(Kind::Failed, saved));
    recorder.songEnded("cancelled", "http://h/4.mp3", outcome(Kind::Cancelled, saved));
    recorder.songEnded("gone", "http://h/5.mp3", outcome(Kind::Saved, work.downloads() / "none.mp3"));
    recorder.songEnded("no address", "", outcome(Kind::Saved, saved));
    EXPECT_EQ(kept.size(), 1u);
}

// A store of rows "title N" / "http://h/N.mp3", a checker over it and a
// model showing its marks, in a working folder of the test's own.
class FinishedMarks : public ::testing::Test {
protected:
    FinishedMarks() {
        apptest::app();
        fs::create_directories(work_.downloads());
        model_.setFinishedSongs(&marks_);
    }
    // A file saved for row `row`, and its record.
    FinishedSong saveFile(int row, const std::string& name, std::size_t size) {
        // Named from the working folder as the process names it, which the tooltips are relative to.
        const fs::path file = fs::current_path() / "downmp3" / name;
        apptest::writeFile(file, std::string(size, 'm'));
        FinishedSong song;
        EXPECT_TRUE(store::finishedFileAt(file.string(), song));
        song.url = "http://h/" + std::to_string(row) + ".mp3";
        song.title = "title " + std::to_string(row);
        song.finishedAt = kNow;
        return song;
    }
    store::FinishedSongChecker& checker() {
        if (!checker_) checker_.emplace(file_.path, marks_, std::chrono::milliseconds(3600000));
        return *checker_;
    }
    bool settled() { return pumpUntil([&] { return checker().idle(); }, 30000) && (apptest::pumpFor(20), true); }
    QVariant cell(int row, int column, int role) { return model_.data(model_.index(row, column), role); }
    std::optional<FinishedFileState> markOf(int row) {
        const QVariant mark = cell(row, 0, Qt::DecorationRole);
        if (!mark.isValid()) return std::nullopt;
        if (mark.value<QIcon>().cacheKey() == store::finishedMark(FinishedFileState::Kept).cacheKey())
            return FinishedFileState::Kept;
        if (mark.value<QIcon>().cacheKey() == store::finishedMark(FinishedFileState::Gone).cacheKey())
            return FinishedFileState::Gone;
        return std::nullopt;
    }

    apptest::StoreFile file_{5};
    apptest::WorkDir work_;
    store::SongStore store_{file_.path};
    store::GridFinishedSongs marks_;
    store::SongTableModel model_{store_};
    std::optional<store::FinishedSongChecker> checker_;
};

TEST_F(FinishedMarks, TheTableIsMadeByTheFirstRecordOnly) {
    checker();
    ASSERT_TRUE(settled());
    checker().checkNow();
    ASSERT_TRUE(settled());
    EXPECT_EQ(tables(file_.path), 1);
    EXPECT_TRUE(marks_.empty());
    checker().record(saveFile(0, "a.mp3", 10));
    ASSERT_TRUE(pumpUntil([&] { return marks_.size() == 1; }, 30000));
    EXPECT_EQ(tables(file_.path), 2);
    EXPECT_EQ(store::FinishedSongStore(file_.path).all().size(), 1u);
}

TEST_F(FinishedMarks, KeptDeletedAndReplacedFilesThroughTheChecker) {
    const FinishedSong kept = saveFile(0, "x.mp3", 4128768);
    const FinishedSong deleted = saveFile(1, "y.mp3", 2000);
    const FinishedSong replaced = saveFile(2, "z.mp3", 3000);
    const FinishedSong ofNoRow = saveFile(99, "w.mp3", 1);
    store::FinishedSongStore(file_.path).record({kept, deleted, replaced, ofNoRow});
    fs::remove(deleted.path);
    apptest::writeFile(replaced.path, "a shorter file");
    QSignalSpy repaints(&model_, &QAbstractItemModel::dataChanged);
    checker();
    ASSERT_TRUE(pumpUntil([&] { return marks_.size() == 4; }, 30000));
    EXPECT_GE(repaints.count(), 1);
    struct Case {
        int row;
        std::optional<FinishedFileState> mark;
        const char* tip;
    };
    const std::vector<Case> cases = {
        {0, FinishedFileState::Kept, "已下载：downmp3/x.mp3（3.9 MB）"},
        {1, FinishedFileState::Gone, "文件已删除：downmp3/y.mp3"},
        {2, FinishedFileState::Gone, "文件已删除：downmp3/z.mp3（那里现在是另一个文件）"},
        {3, std::nullopt, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        EXPECT_EQ(markOf(c.row), c.mark);
        EXPECT_EQ(cell(c.row, 0, Qt::DisplayRole).toString(), QStringLiteral("title %1").arg(c.row));
        EXPECT_EQ(cell(c.row, 1, Qt::DisplayRole).toString(), QStringLiteral("key"));
        EXPECT_EQ(cell(c.row, 2, Qt::DisplayRole).toString(), QStringLiteral("http://h/%1.mp3").arg(c.row));
        for (int column = 0; column < 3; ++column) {
            if (column > 0) {
                EXPECT_FALSE(cell(c.row, column, Qt::DecorationRole).isValid());
            }
            EXPECT_FALSE(cell(c.row, column, Qt::ForegroundRole).isValid());
            EXPECT_EQ(cell(c.row, column, Qt::ToolTipRole).toString(), c.tip ? QString::fromUtf8(c.tip) : QString());
        }
    }
    EXPECT_EQ(model_.columnCount(), 3);

    // The kept one deleted, the deleted one downloaded again: seen at the next check.
    fs::remove(kept.path);
    checker().record(saveFile(1, "y.mp3", 2000));
    ASSERT_TRUE(pumpUntil([&] { return markOf(1) == FinishedFileState::Kept; }, 30000));
    checker().checkNow();
    ASSERT_TRUE(pumpUntil([&] { return markOf(0) == FinishedFileState::Gone; }, 30000));

    // A record another program took out is no mark any more; the others stay.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file_.path.c_str(), &other), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(other, "delete from finishedsongs where url = 'http://h/2.mp3'", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);
    checker().checkNow();
    ASSERT_TRUE(pumpUntil([&] { return !markOf(2); }, 30000));
    EXPECT_EQ(marks_.size(), 3u);
    EXPECT_EQ(markOf(1), FinishedFileState::Kept);
}

TEST_F(FinishedMarks, AFileDeletedIsSeenWithoutBeingAsked) {
    const FinishedSong kept = saveFile(3, "v.mp3", 100);
    store::FinishedSongStore(file_.path).record({kept});
    checker_.emplace(file_.path, marks_, std::chrono::milliseconds(50));
    ASSERT_TRUE(pumpUntil([&] { return markOf(3) == FinishedFileState::Kept; }, 30000));
    fs::remove(kept.path);
    ASSERT_TRUE(pumpUntil([&] { return markOf(3) == FinishedFileState::Gone; }, 30000));
}

TEST_F(FinishedMarks, AVerdictKeepsItsGreyAndTellsItsLineUnderTheMark) {
    store::GridVerdicts verdicts;
    verdicts.setClock([] { return kNow + 120; });
    model_.setVerdicts(&verdicts);
    store::StoredVerdict dead;
    dead.url = "http://h/4.mp3";
    dead.checkedAt = kNow;
    dead.verdict = store::LinkVerdictKind::Dead;
    dead.code = dead.status = 404;
    verdicts.put(dead);
    marks_.apply({{dead.url, store::FinishedMark{FinishedFileState::Kept,
                                                 (fs::current_path() / "downmp3" / "4.mp3").string(), 900}}});
    EXPECT_EQ(markOf(4), FinishedFileState::Kept);
    EXPECT_EQ(cell(4, 1, Qt::ForegroundRole).value<QColor>(), store::greyedText());
    EXPECT_EQ(cell(4, 2, Qt::ToolTipRole).toString(),
              QStringLiteral("已下载：downmp3/4.mp3（900 字节）\n失效：HTTP 404（2 分钟前检查）"));
    // Outside the working folder the path is told whole.
    EXPECT_EQ(store::finishedDetails(store::FinishedMark{FinishedFileState::Gone, "/music/a.mp3", 1},
                                     QStringLiteral("/home/u")),
              QStringLiteral("文件已删除：/music/a.mp3"));
    EXPECT_EQ(store::finishedDetails(store::FinishedMark{FinishedFileState::Kept, "/home/user/a.mp3", 1},
                                     QStringLiteral("/home/u")),
              QStringLiteral("已下载：/home/user/a.mp3（1 字节）"));
    EXPECT_NE(store::finishedMark(FinishedFileState::Kept).cacheKey(),
              store::finishedMark(FinishedFileState::Replaced).cacheKey());
    EXPECT_EQ(store::finishedMark(FinishedFileState::Gone).cacheKey(),
              store::finishedMark(FinishedFileState::Replaced).cacheKey());
}

// A record the file refuses (held locked) is shown all the same, and
// written once the file takes it.
TEST_F(FinishedMarks, ARecordTheFileRefusesIsShownAndWrittenLater) {
    checker();
    ASSERT_TRUE(settled());
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file_.path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "begin immediate; insert into tab1 values ('held','held','held')", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    checker().record(saveFile(2, "held.mp3", 50));
    ASSERT_TRUE(pumpUntil([&] { return markOf(2) == FinishedFileState::Kept; }, 30000));
    sqlite3_exec(other, "rollback", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    checker().checkNow();
    ASSERT_TRUE(pumpUntil([&] { return store::FinishedSongStore(file_.path).all().size() == 1; }, 30000));
}

}  // namespace
