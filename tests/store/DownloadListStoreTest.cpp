// The downloads list's table in the store file: created when missing beside
// an untouched tab1, rows kept and read back as they were saved, the latest
// state of a row written, and a file that cannot keep the list (locked,
// read-only, a foreign table of that name) leaving the list in memory
// without a failure anywhere else.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
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

// A store an earlier version wrote has no such table: it gets one, tab1
// keeps its rows and its three columns, and the song store opens it as before.
TEST_F(DownloadListTable, AnOldStoreGetsTheTableAndKeepsTab1) {
    EXPECT_TRUE(columnsOf(path_, DownloadListStore::kTable).empty());
    {
        DownloadListStore list(path_);
        EXPECT_FALSE(list.InMemory()) << list.Problem();
        EXPECT_TRUE(list.TakeLoaded().empty());
    }
    EXPECT_EQ(columnsOf(path_, DownloadListStore::kTable).size(), 10u);
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

TEST_F(DownloadListTable, AStateNoVersionWritesReadsAsStopped) {
    { DownloadListStore list(path_); }
    storetest::execSql(path_, "insert into downloadlist values (4, 't', 'http://h/t.mp3', '/d/', 't.mp3', 17, 0, 0, '', '')");
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
        {"locked by another program while the table is to be made", [](const std::string&) {}, true},
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
        // Made on the store's thread, the table gives up after the busy wait.
        ASSERT_TRUE(list.WaitUntilWritten(60s)) << c.what;
        EXPECT_TRUE(list.InMemory()) << c.what;
        EXPECT_EQ(told.load(), c.holdLock ? 1 : 0) << c.what << ": an opening failure is Problem()'s to tell";
        EXPECT_FALSE(list.Problem().empty()) << c.what;
        EXPECT_TRUE(list.TakeLoaded().empty()) << c.what;
        // Saving does nothing and fails nothing.
        list.Save(entry(list.NewId(), "a", ListState::Waiting));
        EXPECT_TRUE(list.WaitUntilWritten(60s));
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
// the write gives up, the list goes on in memory, and says so once.
TEST_F(DownloadListTable, AWriteThatCannotWaitLongerGoesOnInMemoryAndSaysSoOnce) {
    { DownloadListStore list(path_); }
    storetest::execSql(path_, "insert into downloadlist values (1, 'kept', 'http://h/k.mp3', '/d/', 'kept.mp3', 2, 5, 5, '', '/d/kept.mp3')");
    DownloadListStore list(path_, 200ms);
    ASSERT_FALSE(list.InMemory()) << list.Problem();
    ASSERT_EQ(list.TakeLoaded().size(), 1u);
    std::atomic<int> told{0};
    list.SetProblemListener([&](const std::string& problem) {
        EXPECT_FALSE(problem.empty());
        ++told;
    });
    storetest::OtherConnection other(path_);
    other.holdWriteLock();
    list.Save(entry(2, "new", ListState::Waiting));
    ASSERT_TRUE(list.WaitUntilWritten(60s));
    EXPECT_TRUE(list.InMemory());
    list.Save(entry(3, "later", ListState::Waiting));
    list.Remove(1);
    ASSERT_TRUE(list.WaitUntilWritten(60s));
    EXPECT_EQ(told.load(), 1);
    other.release();
    // The file holds what it held.
    EXPECT_EQ(storetest::OtherConnection(path_).ids("select id from downloadlist"), std::vector<std::int64_t>{1});
}

// Root may write any file; the case needs a user the file refuses.
TEST_F(DownloadListTable, AReadOnlyFileShowsItsListAndWritesNothing) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes read-only files";
    { DownloadListStore list(path_); }
    storetest::execSql(path_, "pragma journal_mode=delete");
    storetest::execSql(path_, "insert into downloadlist values (1, 'kept', 'http://h/k.mp3', '/d/', 'kept.mp3', 2, 5, 5, '', '')");
    ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
    DownloadListStore list(path_);
    EXPECT_TRUE(list.InMemory());
    EXPECT_EQ(list.TakeLoaded().size(), 1u);
    ::chmod(path_.c_str(), 0644);
}
