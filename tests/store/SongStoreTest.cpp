#include <atomic>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/GbkCodec.h"
#include "store/SongStore.h"
#include "tests/support/TempDir.h"

using store::SongStore;
using store::StoreError;

namespace {

void execSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

int rowsOnDisk(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "select count(*) from tab1", -1, &stmt, nullptr);
    sqlite3_step(stmt);
    int n = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return n;
}

class SongStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.file("mysong.mdb");
        store::CreateEmptyStore(path_);
    }
    testsupport::TempDir dir_;
    std::string path_;
};

}  // namespace

TEST(SongStoreStartup, MissingFileFailsWithTextAndCreatesNothing) {
    testsupport::TempDir dir;
    const std::string path = dir.file("mysong.mdb");
    try {
        SongStore s(path);
        FAIL() << "opened a missing store";
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("mysong.mdb"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SongStoreStartup, FileWithoutTableFails) {
    testsupport::TempDir dir;
    const std::string path = dir.file("mysong.mdb");
    execSql(path, "create table other (x text)");
    try {
        SongStore s(path);
        FAIL() << "opened a store without tab1";
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("tab1"), std::string::npos) << e.what();
    }
}

TEST(SongStoreStartup, FileThatIsNoDatabaseFails) {
    testsupport::TempDir dir;
    const std::string path = dir.file("mysong.mdb");
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fputs("this is not a database file, just some text that is long enough", f);
        std::fclose(f);
    }
    EXPECT_THROW(SongStore s(path), StoreError);
}

TEST(SongStoreStartup, CreateEmptyStoreRefusesExistingFile) {
    testsupport::TempDir dir;
    const std::string path = dir.file("mysong.mdb");
    store::CreateEmptyStore(path);
    EXPECT_THROW(store::CreateEmptyStore(path), StoreError);
}

TEST_F(SongStoreTest, CountAfterStartupEqualsRowsInTable) {
    execSql(path_, "insert into tab1 values ('a','u1','k'); insert into tab1 values ('b','u2','k');"
                   "insert into tab1 values (null,null,null)");
    SongStore s(path_);
    EXPECT_EQ(s.Count(), 3);
    auto row = s.Row(2);
    ASSERT_TRUE(row);
    EXPECT_FALSE(row->title.has_value());
}

TEST_F(SongStoreTest, InsertIsInvisibleUntilRequery) {
    SongStore s(path_);
    s.Insert("t1", "http://h/1.mp3", "k");
    s.Insert("t2", "http://h/2.mp3", "k");
    EXPECT_EQ(s.Count(), 0);
    EXPECT_EQ(rowsOnDisk(path_), 2);
    s.Requery();
    EXPECT_EQ(s.Count(), 2);
    EXPECT_EQ(*s.Row(1)->url2, "http://h/2.mp3");
}

TEST_F(SongStoreTest, SameLinkTwiceIsStoredTwice) {
    SongStore s(path_);
    s.Insert("t", "u", "k");
    s.Insert("t", "u", "k");
    s.Requery();
    EXPECT_EQ(s.Count(), 2);
}

TEST_F(SongStoreTest, InsertKeepsQuotesAndGbkOriginText) {
    SongStore s(path_);
    const std::string gbkTitle = std::string("\xd4\xc2\xc1\xc1") + " \"live\" 'x' );--";  // "月亮" in GBK
    const std::string title = platform::gbkToUtf8(gbkTitle);
    const std::string keyword = "\"quoted\" keyword";
    s.Insert(title, "http://h/a.mp3", keyword);
    s.Requery();
    ASSERT_EQ(s.Count(), 1);
    EXPECT_EQ(*s.Row(0)->title, "月亮 \"live\" 'x' );--");
    EXPECT_EQ(*s.Row(0)->keys, keyword);
    EXPECT_EQ(rowsOnDisk(path_), 1);
}

TEST_F(SongStoreTest, InsertFailureRaisesAndStoresNothing) {
    execSql(path_, "create trigger refuse before insert on tab1 begin select raise(abort, 'refused'); end");
    SongStore s(path_);
    EXPECT_THROW(s.Insert("t", "u", "k"), StoreError);
    EXPECT_EQ(rowsOnDisk(path_), 0);
}

TEST_F(SongStoreTest, ClearDeletesAllAndSwitchesQuery) {
    SongStore s(path_);
    s.Insert("t1", "u1", "k");
    s.Insert("t2", "u2", "k");
    s.Requery();
    ASSERT_EQ(s.Count(), 2);
    s.Clear();
    EXPECT_EQ(s.Count(), 0);
    EXPECT_EQ(rowsOnDisk(path_), 0);
    EXPECT_EQ(s.QueryText(), "select * from tab1");
    EXPECT_TRUE(s.IsOpen());
    // The grid's three columns still come through the new query text.
    s.Insert("t3", "u3", "k3");
    s.Requery();
    ASSERT_EQ(s.Count(), 1);
    EXPECT_EQ(*s.Row(0)->title, "t3");
    EXPECT_EQ(*s.Row(0)->url2, "u3");
    EXPECT_EQ(*s.Row(0)->keys, "k3");
}

TEST_F(SongStoreTest, ClearOnEmptyTableAndClearFailureAreSilent) {
    SongStore s(path_);
    EXPECT_NO_THROW(s.Clear());
    EXPECT_EQ(s.Count(), 0);

    SongStore other(path_);
    other.Insert("t", "u", "k");
    execSql(path_, "create trigger keep before delete on tab1 begin select raise(abort, 'kept'); end");
    EXPECT_NO_THROW(other.Clear());
    EXPECT_EQ(rowsOnDisk(path_), 1);
}

TEST_F(SongStoreTest, DeleteRowRemovesFromTableAndSnapshot) {
    SongStore s(path_);
    s.Insert("a", "u1", "k");
    s.Insert("b", "u2", "k");
    s.Insert("c", "u3", "k");
    s.Requery();
    s.DeleteRow(1);
    EXPECT_EQ(s.Count(), 2);
    EXPECT_EQ(*s.Row(1)->title, "c");
    EXPECT_EQ(rowsOnDisk(path_), 2);
    EXPECT_THROW(s.DeleteRow(5), StoreError);
}

TEST_F(SongStoreTest, ListenerIsToldOfEachReopeningWithTheNewSnapshotInPlace) {
    SongStore s(path_);
    std::vector<int> seen;
    s.SetSnapshotListener([&] { seen.push_back(s.Count()); });
    s.Insert("a", "u", "k");
    s.Requery();
    s.Insert("b", "u", "k");
    s.RequeryBriefly();
    s.Clear();
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 0}));
}

TEST_F(SongStoreTest, InsertsFromWorkerWhileUiThreadCountsAndRequeries) {
    SongStore s(path_);
    constexpr int kRows = 500;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kRows; ++i) s.Insert("t" + std::to_string(i), "u", "k");
        done = true;
    });
    int lastCount = 0;
    while (!done) {
        s.Requery();
        int count = s.Count();
        EXPECT_GE(count, lastCount);
        lastCount = count;
    }
    worker.join();
    s.Requery();
    EXPECT_EQ(s.Count(), kRows);
}
