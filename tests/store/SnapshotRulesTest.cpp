// How a re-opening of the results query comes to its rows: this store's own
// inserts are added at the end, which must give exactly what reading the
// query again in full gives; a change by another connection is noticed and
// the query read again in full.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "store/SongStore.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/support/TempDir.h"

using store::SongStore;
using storetest::idsOnDisk;
using storetest::insertRows;
using storetest::OtherConnection;

namespace {

std::vector<std::int64_t> snapshotIds(const SongStore& songs) {
    const auto snapshot = songs.Snapshot();
    std::vector<std::int64_t> ids;
    for (std::size_t i = 0; i < snapshot->ids.size(); ++i) ids.push_back(snapshot->ids[i]);
    return ids;
}

// One thing done to the store between two re-openings.
struct Step {
    enum Kind { OwnInserts, OwnDelete, Other } kind;
    int count = 0;        // rows inserted; the row index deleted
    std::string sql = {};  // what another connection runs
};

struct Case {
    const char* what;
    std::string schema;  // before the store opens; empty: the program's own table
    std::string before;  // rows before the store opens
    std::vector<Step> steps;
    bool readInFull;  // whether the re-opening must read the query in full
};

}  // namespace

TEST(SnapshotRules, AReopeningShowsWhatAFullReadShows) {
    using S = Step;
    const std::vector<Case> cases = {
        {"own inserts into an empty table are added at the end", "", "", {{S::OwnInserts, 3}}, false},
        {"own inserts after stored rows are added at the end", "", insertRows(5), {{S::OwnInserts, 4}}, false},
        {"own inserts past the end of a chunk of ids", "", insertRows(4090), {{S::OwnInserts, 5000}}, false},
        {"an own insert after the last row was deleted gets its id again", "", insertRows(5),
         {{S::OwnDelete, 4}, {S::OwnInserts, 2}}, false},
        {"own deletes in the middle, then inserts", "", insertRows(6),
         {{S::OwnDelete, 1}, {S::OwnDelete, 3}, {S::OwnInserts, 2}}, false},
        {"the largest id taken: new ids come at random and need a full read", "",
         "insert into tab1 (rowid, title) values (9223372036854775807, 'last')", {{S::OwnInserts, 5}}, true},
        {"another connection inserts", "", insertRows(3),
         {{S::OwnInserts, 2}, {S::Other, 0, insertRows(2, 100)}, {S::OwnInserts, 2}}, true},
        {"another connection deletes", "", insertRows(4),
         {{S::OwnInserts, 2}, {S::Other, 0, "delete from tab1 where rowid = 2"}}, true},
        {"another connection deletes every row", "", insertRows(4), {{S::Other, 0, "delete from tab1"}}, true},
        {"an index the query reads in its own order: every re-opening reads in full",
         "create table tab1 (title text, url2 text, keys text, notes text, more text);"
         "create index byurl on tab1 (url2, title, keys);",
         "insert into tab1 (title, url2, keys) values ('z', 'http://z/z.mp3', 'k'), ('a', 'http://a/a.mp3', 'k');",
         {{S::OwnInserts, 3}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        const std::string path = dir.file("mysong.mdb");
        if (c.schema.empty()) {
            store::CreateEmptyStore(path);
        } else {
            storetest::execSql(path, c.schema);
        }
        if (!c.before.empty()) storetest::execSql(path, c.before);
        SongStore songs(path);
        ASSERT_EQ(snapshotIds(songs), idsOnDisk(path));
        const auto readsAtStart = songs.FullReads();
        int n = 0;
        for (const Step& step : c.steps) {
            switch (step.kind) {
            case S::OwnInserts:
                for (int i = 0; i < step.count; ++i, ++n)
                    songs.Insert("own " + std::to_string(n), "http://own/" + std::to_string(n) + ".mp3", "k");
                break;
            case S::OwnDelete: songs.DeleteRow(step.count); break;
            case S::Other: storetest::execSql(path, step.sql); break;
            }
        }
        songs.Requery();
        EXPECT_EQ(snapshotIds(songs), idsOnDisk(path));
        EXPECT_EQ(songs.Count(), storetest::rowsOnDisk(path));
        EXPECT_EQ(songs.FullReads() > readsAtStart, c.readInFull);
        // And once more, with nothing new.
        songs.Requery();
        EXPECT_EQ(snapshotIds(songs), idsOnDisk(path));
    }
}

TEST(SnapshotRules, RowsAddedSinceTheLastReopeningStayUnseenUntilTheNext) {
    const storetest::StoreFile file(2);
    const std::string& path = file.path;
    SongStore songs(path);
    songs.Insert("own", "http://own.mp3", "k");
    storetest::execSql(path, insertRows(1, 50));
    EXPECT_EQ(songs.Count(), 2);
    EXPECT_FALSE(songs.Row(2).has_value());
    songs.Requery();
    EXPECT_EQ(songs.Count(), 4);
}

TEST(SnapshotRules, FieldsChangedByAnotherConnectionShowAfterTheNextReopening) {
    const storetest::StoreFile file(3);
    const std::string& path = file.path;
    SongStore songs(path);
    ASSERT_EQ(*songs.Row(1)->title, "title 1");
    storetest::execSql(path, "update tab1 set title = 'renamed' where rowid = 2");
    songs.Requery();
    EXPECT_EQ(*songs.Row(1)->title, "renamed");
    EXPECT_EQ(*songs.Row(1)->url2, "http://h/1.mp3");
}

// Clear deletes every row at once and switches the query; the rows added
// after it come at the end as before.
TEST(SnapshotRules, AfterClearOwnInsertsAreAddedAtTheEndOfTheNewQuery) {
    const storetest::StoreFile file(5);
    const std::string& path = file.path;
    SongStore songs(path);
    songs.Clear();
    ASSERT_EQ(songs.Count(), 0);
    ASSERT_EQ(songs.QueryText(), "select * from tab1");
    const auto reads = songs.FullReads();
    songs.Insert("a", "http://a.mp3", "k");
    songs.Insert("b", "http://b.mp3", "k");
    songs.Requery();
    EXPECT_EQ(snapshotIds(songs), idsOnDisk(path, "select rowid, * from tab1"));
    EXPECT_EQ(songs.FullReads(), reads);
    EXPECT_EQ(*songs.Row(1)->title, "b");
}

TEST(SnapshotRules, ALargeClearRunsInTheBackgroundWithTheQueryClosed) {
    const storetest::StoreFile file(static_cast<int>(SongStore::kBriefClearRows) + 1);
    const std::string& path = file.path;
    SongStore songs(path);
    std::atomic<int> told{0};
    songs.SetSnapshotListener([&] { ++told; });
    songs.Clear();
    // Closed at once, whatever the background thread has done by now.
    EXPECT_GE(told, 1);
    ASSERT_TRUE(songs.WaitUntilIdle(std::chrono::seconds(60)));
    EXPECT_TRUE(songs.IsOpen());
    EXPECT_EQ(songs.Count(), 0);
    EXPECT_EQ(storetest::rowsOnDisk(path), 0);
    EXPECT_EQ(songs.QueryText(), "select * from tab1");
    EXPECT_EQ(told.load(), 2);
    songs.Insert("a", "http://a.mp3", "k");
    songs.Requery();
    EXPECT_EQ(songs.Count(), 1);
}

TEST(SnapshotRules, AFailedClearKeepsTheLastGoodSnapshotAndQuery) {
    const storetest::StoreFile file(3);
    const std::string& path = file.path;
    SongStore songs(path);
    storetest::execSql(path, "create trigger keep before delete on tab1 begin select raise(abort, 'kept'); end");
    songs.Clear();
    ASSERT_TRUE(songs.WaitUntilIdle(std::chrono::seconds(60)));
    EXPECT_TRUE(songs.IsOpen());
    EXPECT_EQ(songs.Count(), 3);
    EXPECT_EQ(songs.QueryText(), "select url2,title,keys from tab1");
    EXPECT_EQ(*songs.Row(2)->title, "title 2");
}

TEST(SnapshotRules, ARowDeletedIsGoneFromTheSnapshotAndTheTableAtOnce) {
    const storetest::StoreFile file(3);
    const std::string& path = file.path;
    SongStore songs(path);
    songs.DeleteRecord(songs.Snapshot()->ids[0]);
    EXPECT_EQ(songs.Count(), 2);
    EXPECT_EQ(*songs.Row(0)->title, "title 1");
    EXPECT_EQ(storetest::rowsOnDisk(path), 2);
    EXPECT_EQ(snapshotIds(songs), idsOnDisk(path));
}

// A re-opening asked for by the UI thread does what it can at once; a full
// re-read of a large store is finished on the background thread.
TEST(SnapshotRules, ABriefReopeningLeavesALargeFullReadToTheBackground) {
    const storetest::StoreFile file(static_cast<int>(SongStore::kBriefReadRows) + 10);
    const std::string& path = file.path;
    SongStore songs(path);
    const int before = songs.Count();

    songs.Insert("own", "http://own.mp3", "k");
    songs.RequeryBriefly();  // only own rows: done at once
    EXPECT_EQ(songs.Count(), before + 1);

    storetest::execSql(path, insertRows(2, 900000));
    std::atomic<int> told{0};
    songs.SetSnapshotListener([&] { ++told; });
    songs.RequeryBriefly();
    ASSERT_TRUE(songs.WaitUntilIdle(std::chrono::seconds(60)));
    EXPECT_EQ(songs.Count(), before + 3);
    EXPECT_EQ(snapshotIds(songs), idsOnDisk(path));
    EXPECT_EQ(told.load(), 1);
}

TEST(SnapshotRules, ACancelledFullReadLeavesTheSnapshotForTheNextReopening) {
    const storetest::StoreFile file(5000);
    const std::string& path = file.path;
    SongStore songs(path);
    storetest::execSql(path, insertRows(1, 9000));
    songs.Insert("own", "http://own.mp3", "k");
    // Asked twice while the locks are taken, then turning true: the read
    // in full is cancelled part-way.
    int asked = 0;
    songs.Requery([&] { return ++asked > 2; });
    EXPECT_GT(asked, 2);
    EXPECT_EQ(songs.Count(), 5000);
    songs.Requery();
    EXPECT_EQ(songs.Count(), 5002);
    EXPECT_EQ(snapshotIds(songs), idsOnDisk(path));
}

// Threads as the program has them: the cutting stage inserting and
// re-opening, the UI thread re-opening briefly, reading rows and deleting,
// another connection writing. Whatever the interleaving, the end agrees with
// a full read.
TEST(SnapshotRules, ThreadsAndAnotherConnectionEndInAgreementWithAFullRead) {
    const storetest::StoreFile file(200);
    const std::string& path = file.path;
    SongStore songs(path);
    std::atomic<bool> done{false};
    std::thread stage([&] {
        for (int i = 0; i < 300; ++i) {
            songs.Insert("stage " + std::to_string(i), "http://s/" + std::to_string(i) + ".mp3", "k");
            if (i % 25 == 24) songs.Requery();
        }
        done = true;
    });
    std::thread other([&] {
        OtherConnection connection(path);
        for (int i = 0; i < 20 && !done; ++i) {
            connection.exec(insertRows(3, 1000 + 3 * i));
            connection.exec("delete from tab1 where rowid = " + std::to_string(10 + i));
        }
    });
    int deleted = 0;
    while (!done) {
        songs.RequeryBriefly();
        const int count = songs.Count();
        if (count > 0) {
            songs.Row(count / 2);
            try {
                songs.DeleteRow(count - 1);
                ++deleted;
            } catch (const store::StoreError&) {
                // The file was locked past the brief wait.
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stage.join();
    other.join();
    ASSERT_TRUE(songs.WaitUntilIdle(std::chrono::seconds(60)));
    songs.Requery();
    EXPECT_EQ(snapshotIds(songs), idsOnDisk(path));
    EXPECT_GT(deleted, 0);
}

// Rows added and re-openings asked for while a Clear waits for the background
// thread: when the Clear fails, they are all shown, as a full read shows them.
TEST(SnapshotRules, RowsAddedWhileAFailingClearWaitsAreShownAfterIt) {
    const storetest::StoreFile file(static_cast<int>(SongStore::kBriefClearRows) + 1);
    const std::string& path = file.path;
    storetest::execSql(path, "create trigger keep before delete on tab1 begin select raise(abort, 'kept'); end");
    SongStore songs(path);
    songs.Clear();
    for (int i = 0; i < 3; ++i) {
        songs.Insert("own " + std::to_string(i), "http://own.mp3", "k");
        songs.Requery();
    }
    ASSERT_TRUE(songs.WaitUntilIdle(std::chrono::seconds(60)));
    songs.Requery();
    EXPECT_TRUE(songs.IsOpen());
    EXPECT_EQ(snapshotIds(songs), idsOnDisk(path));
}
