// The downloads list's table in the store file: made by the list's first
// change beside an untouched tab1, rows kept and read back as they were
// saved, the latest state of a row written, a write the file refuses kept
// and written once it takes it, and a file that cannot keep the list
// (read-only, a foreign table of that name) leaving the list in memory
// without a failure anywhere else.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "store/DownloadListStore.h"
#include "store/SongStore.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/support/TempDir.h"

using store::DownloadListStore;
using store::ListEntry;
using store::ListState;
using namespace std::chrono_literals;

namespace {

ListEntry entry(std::int64_t id, const std::string& title, ListState state, std::int64_t received = 0,
                std::int64_t total = 0, const std::string& reason = "", const std::string& path = "") {
    ListEntry e;
    e.id = id;
    e.title = title;
    e.url = "http://127.0.0.1/" + std::to_string(id) + ".mp3";
    e.folder = "/home/user/downmp3/";
    e.fileName = title + ".mp3";
    e.state = state;
    e.received = received;
    e.total = total;
    e.reason = reason;
    e.path = path;
    return e;
}

std::vector<std::string> columnsOf(const std::string& path, const std::string& table) {
    std::vector<std::string> names;
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, ("pragma table_info(" + table + ")").c_str(), -1, &s, nullptr);
    while (s && sqlite3_step(s) == SQLITE_ROW) names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
    sqlite3_finalize(s);
    sqlite3_close(db);
    return names;
}

class DownloadListTable : public storetest::StoreWithThreeRows {};

}  // namespace

// A store that never used the list has no such table, and opening the list
// does not make one: tab1 stays alone in the file. The first change makes
// it; tab1 keeps its rows and its three columns, and the song store opens it
// as before.
TEST_F(DownloadListTable, TheFirstChangeMakesTheTableAndTab1IsKept) {
    EXPECT_TRUE(columnsOf(path_, DownloadListStore::kTable).empty());
    {
        DownloadListStore list(path_);
        EXPECT_FALSE(list.InMemory()) << list.Problem();
        EXPECT_TRUE(list.TakeLoaded().empty());
        ASSERT_TRUE(list.WaitUntilWritten(60s));
    }
    EXPECT_TRUE(columnsOf(path_, DownloadListStore::kTable).empty()) << "opened, never changed";
    EXPECT_EQ(storetest::OtherConnection(path_).ids("select count(*) from sqlite_master where type = 'table'"),
              std::vector<std::int64_t>{1});
    {
        DownloadListStore list(path_);
        list.Save(entry(list.NewId(), "a", ListState::Waiting));
        list.Remove(1);
    }
    EXPECT_EQ(columnsOf(path_, DownloadListStore::kTable).size(), 11u);
    EXPECT_EQ(columnsOf(path_, "tab1"), (std::vector<std::string>{"title", "url2", "keys"}));
    EXPECT_EQ(storetest::rowsOnDisk(path_), 3);
    store::SongStore songs(path_);
    EXPECT_EQ(songs.Count(), 3);
    // Opened again, the table is there and nothing is made twice.
    DownloadListStore again(path_);
    EXPECT_FALSE(again.InMemory()) << again.Problem();
}

TEST_F(DownloadListTable, RowsComeBackAsTheyWereSavedInIdOrder) {
    const std::vector<ListEntry> saved = {
        entry(3, "月亮代表我的心", ListState::Finished, 4096, 4096, "", "/home/user/downmp3/月亮代表我的心.mp3"),
        entry(1, "say \"hi\" ' ; drop table tab1", ListState::Waiting),
        entry(7, "断了的歌", ListState::Failed, 100, 5000, "连接中断，歌曲没有下载完整"),
        entry(5, "停下的歌", ListState::Stopped, 2048, 0),
        entry(9, "正在下的歌", ListState::Downloading, 10, 20),
    };
    {
        DownloadListStore list(path_);
        for (const ListEntry& e : saved) list.Save(e);
        ASSERT_TRUE(list.WaitUntilWritten(60s));
    }
    DownloadListStore list(path_);
    const std::vector<ListEntry> loaded = list.TakeLoaded();
    ASSERT_EQ(loaded.size(), saved.size());
    EXPECT_TRUE(list.TakeLoaded().empty()) << "taken once";
    const std::vector<std::int64_t> order = {1, 3, 5, 7, 9};
    for (std::size_t i = 0; i < order.size(); ++i) {
        const ListEntry& got = loaded[i];
        EXPECT_EQ(got.id, order[i]);
        for (const ListEntry& e : saved) {
            if (e.id != got.id) continue;
            EXPECT_EQ(got, e) << e.title;
        }
    }
    // A new row never takes an id the table has.
    EXPECT_EQ(list.NewId(), 10);
    EXPECT_EQ(list.NewId(), 11);
    EXPECT_EQ(storetest::rowsOnDisk(path_), 3);
}

TEST_F(DownloadListTable, TheLatestStateOfARowIsWhatStays) {
    struct Case {
        const char* what;
        std::vector<std::pair<ListEntry, bool>> steps;  // entry, removed
        std::vector<ListState> expected;                // states left, by id
    };
    const std::vector<Case> cases = {
        {"saved twice", {{entry(1, "a", ListState::Waiting), false}, {entry(1, "a", ListState::Finished), false}},
         {ListState::Finished}},
        {"saved, then removed", {{entry(1, "a", ListState::Waiting), false}, {entry(1, "a", ListState::Waiting), true}}, {}},
        {"removed, then saved again",
         {{entry(1, "a", ListState::Waiting), false}, {entry(1, "a", ListState::Waiting), true},
          {entry(1, "a", ListState::Stopped), false}},
         {ListState::Stopped}},
        {"two rows, one removed",
         {{entry(1, "a", ListState::Waiting), false}, {entry(2, "b", ListState::Failed), false},
          {entry(1, "a", ListState::Waiting), true}},
         {ListState::Failed}},
    };
    for (const Case& c : cases) {
        testsupport::TempDir dir;
        const std::string path = dir.file("mysong.mdb");
        store::CreateEmptyStore(path);
        {
            DownloadListStore list(path);
            for (const auto& [e, removed] : c.steps) {
                if (removed) list.Remove(e.id);
                else list.Save(e);
            }
        }  // closing writes what is pending
        DownloadListStore list(path);
        std::vector<ListState> states;
        for (const ListEntry& e : list.TakeLoaded()) states.push_back(e.state);
        EXPECT_EQ(states, c.expected) << c.what;
    }
}

// A table an earlier version made has no identity column: its rows read
// with none, and the first write adds it.
TEST_F(DownloadListTable, AnEarlierTableReadsAndGetsTheIdentityColumn) {
    storetest::execSql(path_,
                       "create table downloadlist (id integer primary key, title text not null, url text not null, "
                       "folder text not null, filename text not null, state integer not null, received integer not "
                       "null, total integer not null, reason text not null, path text not null);"
                       "insert into downloadlist values (2, 'old', 'http://h/o.mp3', '/d/', 'old.mp3', 2, 5, 5, '', "
                       "'/d/old.mp3')");
    {
        DownloadListStore list(path_);
        const std::vector<ListEntry> loaded = list.TakeLoaded();
        ASSERT_EQ(loaded.size(), 1u);
        EXPECT_EQ(loaded[0].title, "old");
        EXPECT_EQ(loaded[0].identity, "");
        ListEntry finished = entry(3, "new", ListState::Finished);
        finished.identity = "1:2:3";
        list.Save(finished);
    }
    DownloadListStore list(path_);
    const std::vector<ListEntry> loaded = list.TakeLoaded();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[1].identity, "1:2:3");
    EXPECT_EQ(columnsOf(path_, DownloadListStore::kTable).size(), 11u);
}

// A song's place in the queue needs a column of its own, added by the first
// row moved ahead, to a table of this version or an earlier one: no row is
// lost, and an earlier version's statements still read and write the table
// (a row it writes takes its place by id).
TEST_F(DownloadListTable, TheFirstRowMovedAheadAddsTheQueuePlaceColumn) {
    struct Case {
        const char* what;
        std::string create;
        std::size_t columnsBefore;  // once a row without a place is written
    };
    const std::vector<Case> cases = {
        {"this version's table", DownloadListStore::kCreate, 11},
        {"a table without identity",
         "create table downloadlist (id integer primary key, title text not null, url text not null, folder text not "
         "null, filename text not null, state integer not null, received integer not null, total integer not null, "
         "reason text not null, path text not null)",
         11},
    };
    constexpr const char* kEarlierSelect =
        "select id, title, url, folder, filename, state, received, total, reason, path, identity from downloadlist "
        "order by id";
    constexpr const char* kEarlierSave =
        "insert or replace into downloadlist (id, title, url, folder, filename, state, received, total, reason, path, "
        "identity) values (9, 'by an earlier version', 'http://h/9.mp3', '/d/', 'x.mp3', 0, 0, 0, '', '', '')";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        const std::string path = dir.file("mysong.mdb");
        store::CreateEmptyStore(path);
        storetest::execSql(path, c.create);
        storetest::execSql(path, "insert into downloadlist (id, title, url, folder, filename, state, received, total, "
                                 "reason, path) values (1, 'one', 'http://h/1.mp3', '/d/', 'one.mp3', 0, 0, 0, '', ''), "
                                 "(2, 'two', 'http://h/2.mp3', '/d/', 'two.mp3', 0, 0, 0, '', '')");
        {
            DownloadListStore list(path);
            const std::vector<ListEntry> loaded = list.TakeLoaded();
            ASSERT_EQ(loaded.size(), 2u);
            EXPECT_EQ(loaded[0].queuePlace, 0);
            list.Save(entry(3, "three", ListState::Waiting));
            ASSERT_TRUE(list.WaitUntilWritten(60s));
            EXPECT_EQ(columnsOf(path, DownloadListStore::kTable).size(), c.columnsBefore) << "no place to keep yet";
            ListEntry moved = loaded[1];
            moved.queuePlace = -2;
            ListEntry movedFirst = entry(3, "three", ListState::Waiting);
            movedFirst.queuePlace = -3;
            list.Save(std::vector<ListEntry>{moved, movedFirst});
            ASSERT_TRUE(list.WaitUntilWritten(60s));
            EXPECT_FALSE(list.InMemory()) << list.Problem();
        }
        EXPECT_EQ(columnsOf(path, DownloadListStore::kTable).size(), c.columnsBefore + 1);
        // An earlier version reads every row, and writes one of its own.
        EXPECT_EQ(storetest::OtherConnection(path).ids(kEarlierSelect), (std::vector<std::int64_t>{1, 2, 3}));
        storetest::execSql(path, kEarlierSave);
        DownloadListStore list(path);
        std::vector<std::pair<std::int64_t, std::int64_t>> places;
        for (const ListEntry& e : list.TakeLoaded()) places.emplace_back(e.id, e.queuePlace);
        EXPECT_EQ(places, (std::vector<std::pair<std::int64_t, std::int64_t>>{{1, 0}, {2, -2}, {3, -3}, {9, 0}}));
    }
}

TEST_F(DownloadListTable, AStateNoVersionWritesReadsAsStopped) {
    storetest::execSql(path_, DownloadListStore::kCreate);
    storetest::execSql(path_, "insert into downloadlist values (4, 't', 'http://h/t.mp3', '/d/', 't.mp3', 17, 0, 0, '', '', '')");
    DownloadListStore list(path_);
    const std::vector<ListEntry> loaded = list.TakeLoaded();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].state, ListState::Stopped);
}

// None of these ends anything: the list lives in memory and says why.
TEST_F(DownloadListTable, AFileThatCannotKeepTheListLeavesItInMemory) {
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> prepare;
        bool holdLock;
    };
    const std::vector<Case> cases = {
        {"locked by another program while the first change makes the table", [](const std::string&) {}, true},
        {"a table of that name with other columns",
         [](const std::string& path) { storetest::execSql(path, "create table downloadlist (x text)"); }, false},
    };
    for (const Case& c : cases) {
        testsupport::TempDir dir;
        const std::string path = dir.file("mysong.mdb");
        store::CreateEmptyStore(path);
        c.prepare(path);
        storetest::OtherConnection other(path);
        if (c.holdLock) other.holdWriteLock();
        DownloadListStore list(path, 200ms);
        std::atomic<int> told{0};
        list.SetProblemListener([&](const std::string&) { ++told; });
        // Made on the store's thread by the first change, the table gives up after the busy wait.
        if (c.holdLock) list.Save(entry(list.NewId(), "first", ListState::Waiting));
        ASSERT_TRUE(list.WaitUntilWritten(60s)) << c.what;
        EXPECT_TRUE(list.InMemory()) << c.what;
        EXPECT_EQ(told.load(), c.holdLock ? 1 : 0) << c.what << ": an opening failure is Problem()'s to tell";
        EXPECT_FALSE(list.Problem().empty()) << c.what;
        // Saving fails nothing.
        list.Save(entry(list.NewId(), "a", ListState::Waiting));
        EXPECT_TRUE(list.WaitUntilWritten(60s));
        EXPECT_TRUE(list.TakeLoaded().empty()) << c.what;
        if (c.holdLock) other.release();
    }
}

// The window being built does not wait for another program's lock: the
// table is made on the store's thread once the lock goes, and what was
// saved meanwhile is written.
TEST_F(DownloadListTable, ALockAtStartHoldsOnlyTheStoresThread) {
    storetest::OtherConnection other(path_);
    other.holdWriteLock();
    DownloadListStore list(path_, 600s);
    EXPECT_FALSE(list.InMemory());
    list.Save(entry(list.NewId(), "a", ListState::Waiting));
    EXPECT_FALSE(list.WaitUntilWritten(50ms));
    other.release();
    ASSERT_TRUE(list.WaitUntilWritten(60s));
    EXPECT_FALSE(list.InMemory()) << list.Problem();
    EXPECT_EQ(storetest::OtherConnection(path_).ids("select id from downloadlist"), std::vector<std::int64_t>{1});
}

// A list kept in the file, then a lock held longer than the write may wait:
// the write gives up and says so once; what was saved meanwhile waits in
// memory, is tried again, and is written once the lock goes, which is said
// once too. Again and again: saving never stops for the rest of the run.
TEST_F(DownloadListTable, ARefusedWriteIsKeptAndWrittenOnceTheFileTakesIt) {
    storetest::execSql(path_, DownloadListStore::kCreate);
    storetest::execSql(path_, "insert into downloadlist values (1, 'kept', 'http://h/k.mp3', '/d/', 'kept.mp3', 2, 5, 5, '', '/d/kept.mp3', '')");
    DownloadListStore list(path_, 200ms, 50ms);
    ASSERT_FALSE(list.InMemory()) << list.Problem();
    ASSERT_EQ(list.TakeLoaded().size(), 1u);
    std::atomic<int> told{0}, resumed{0};
    list.SetProblemListener([&](const std::string& problem) {
        EXPECT_FALSE(problem.empty());
        ++told;
    });
    list.SetResumedListener([&] { ++resumed; });
    const auto idsOnDisk = [&] { return storetest::OtherConnection(path_).ids("select id from downloadlist order by id"); };
    struct Round {
        std::vector<std::int64_t> saved, removed, expected;
    };
    const std::vector<Round> rounds = {{{2, 3}, {1}, {2, 3}}, {{4}, {2}, {3, 4}}};
    for (const Round& round : rounds) {
        const int toldBefore = told.load(), resumedBefore = resumed.load();
        storetest::OtherConnection other(path_);
        other.holdWriteLock();
        for (std::int64_t id : round.saved) {
            list.Save(entry(id, "new", ListState::Waiting));
            ASSERT_TRUE(list.WaitUntilWritten(60s));
        }
        for (std::int64_t id : round.removed) list.Remove(id);
        ASSERT_TRUE(list.WaitUntilWritten(60s));
        EXPECT_TRUE(list.InMemory());
        EXPECT_EQ(told.load(), toldBefore + 1) << "once when saving stops";
        EXPECT_EQ(resumed.load(), resumedBefore);
        other.release();
        ASSERT_TRUE(storetest::waitUntil([&] { return !list.InMemory(); }, 60s));
        EXPECT_EQ(idsOnDisk(), round.expected);
        EXPECT_EQ(resumed.load(), resumedBefore + 1) << "once when it works again";
        EXPECT_EQ(told.load(), toldBefore + 1);
    }
}

// Closing writes what is pending once the file takes it within its last
// second; a lock held past it leaves the file as it was, and closing ends
// all the same.
TEST_F(DownloadListTable, ClosingWritesThePendingStateWithinItsLastSecond) {
    for (const bool heldPastClosing : {false, true}) {
        SCOPED_TRACE(heldPastClosing ? "held past closing" : "let go while closing");
        testsupport::TempDir dir;
        const std::string path = dir.file("mysong.mdb");
        store::CreateEmptyStore(path);
        storetest::execSql(path, DownloadListStore::kCreate);
        storetest::OtherConnection other(path);
        std::thread letGo;
        {
            DownloadListStore list(path, 200ms, 50ms);
            other.holdWriteLock();
            list.Save(entry(1, "a", ListState::Waiting));
            ASSERT_TRUE(list.WaitUntilWritten(60s));
            ASSERT_TRUE(list.InMemory());
            // Let go from another thread while the closing write waits for it.
            if (!heldPastClosing) letGo = std::thread([&] { other.release(); });
        }
        if (letGo.joinable()) letGo.join();
        if (heldPastClosing) other.release();
        EXPECT_EQ(storetest::OtherConnection(path).ids("select id from downloadlist"),
                  heldPastClosing ? std::vector<std::int64_t>{} : std::vector<std::int64_t>{1});
    }
}

// Root may write any file; the case needs a user the file refuses.
TEST_F(DownloadListTable, AReadOnlyFileShowsItsListAndWritesNothing) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes read-only files";
    storetest::execSql(path_, DownloadListStore::kCreate);
    storetest::execSql(path_, "pragma journal_mode=delete");
    storetest::execSql(path_, "insert into downloadlist values (1, 'kept', 'http://h/k.mp3', '/d/', 'kept.mp3', 2, 5, 5, '', '', '')");
    ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
    DownloadListStore list(path_);
    EXPECT_TRUE(list.InMemory());
    EXPECT_EQ(list.TakeLoaded().size(), 1u);
    ::chmod(path_.c_str(), 0644);
}

// Many rows at once are written in transactions of kRowsPerWrite: every
// row arrives, in its latest state, whether saved one by one or together,
// and a removal among them holds.
TEST_F(DownloadListTable, ManyRowsAreWrittenInTransactionsOfBoundedSize) {
    const std::int64_t rows = static_cast<std::int64_t>(DownloadListStore::kRowsPerWrite) * 2 + 7;
    {
        DownloadListStore list(path_);
        std::vector<ListEntry> many;
        for (std::int64_t id = 1; id <= rows; ++id) many.push_back(entry(id, "歌" + std::to_string(id), ListState::Waiting));
        list.Save(many);
        list.Save(entry(rows, "最后一首", ListState::Finished, 4, 4));
        list.Remove(1);
        list.Save(std::vector<ListEntry>{});
        ASSERT_TRUE(list.WaitUntilWritten(120s));
    }
    DownloadListStore list(path_);
    const std::vector<ListEntry> loaded = list.TakeLoaded();
    ASSERT_EQ(loaded.size(), static_cast<std::size_t>(rows - 1));
    EXPECT_EQ(loaded.front().id, 2);
    EXPECT_EQ(loaded.back(), entry(rows, "最后一首", ListState::Finished, 4, 4));
    EXPECT_EQ(loaded[static_cast<std::size_t>(DownloadListStore::kRowsPerWrite)].id,
              static_cast<std::int64_t>(DownloadListStore::kRowsPerWrite) + 2);
}
