#pragma once
// What the store tests do to a store file behind the song store's back:
// another connection's statements, a lock it holds, the rows as a full read
// of the results query returns them, and damage to the file; and the store
// file most of them start from.
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "store/SongStore.h"
#include "tests/support/TempDir.h"

namespace storetest {

// A connection of its own to the file, as another program would hold one.
class OtherConnection {
public:
    explicit OtherConnection(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
            ADD_FAILURE() << path;
        sqlite3_busy_timeout(db_, 10000);
    }
    ~OtherConnection() { sqlite3_close(db_); }
    OtherConnection(const OtherConnection&) = delete;
    OtherConnection& operator=(const OtherConnection&) = delete;

    void exec(const std::string& sql) {
        char* error = nullptr;
        const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
        EXPECT_EQ(rc, SQLITE_OK) << sql << ": " << (error ? error : "");
        sqlite3_free(error);
    }
    // The first column of every row `sql` returns.
    std::vector<std::int64_t> ids(const std::string& sql) {
        std::vector<std::int64_t> ids;
        sqlite3_stmt* s = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sql;
        while (s && sqlite3_step(s) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(s, 0));
        sqlite3_finalize(s);
        return ids;
    }
    // Holds the file's write lock with an insert not yet committed, until
    // release() or the end of this connection.
    void holdWriteLock() { exec("begin immediate; insert into tab1 values ('held','held','held')"); }
    void release() { exec("rollback"); }

private:
    sqlite3* db_ = nullptr;
};

// Polls `done` until it holds or `limit` has passed; whether it held.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Runs `sql` on a connection of its own.
inline void execSql(const std::string& path, const std::string& sql) { OtherConnection(path).exec(sql); }

// The ids of the rows "select url2,title,keys from tab1" (or `query`)
// returns, in its order, read afresh.
inline std::vector<std::int64_t> idsOnDisk(const std::string& path,
                                           const std::string& query = "select rowid, url2, title, keys from tab1") {
    return OtherConnection(path).ids(query);
}

inline int rowsOnDisk(const std::string& path) {
    const auto count = OtherConnection(path).ids("select count(*) from tab1");
    return count.empty() ? -1 : static_cast<int>(count.front());
}

// `count` rows "title N" / "http://h/N.mp3" / "key", in one transaction.
inline std::string insertRows(int count, int first = 0) {
    std::string sql = "begin;";
    for (int i = first; i < first + count; ++i)
        sql += "insert into tab1 values ('title " + std::to_string(i) + "','http://h/" + std::to_string(i) +
               ".mp3','key');";
    return sql + "commit;";
}

// Writes over every page of the file but the first, as a failing disk or
// another program might: the schema still reads, the table does not.
// A change committed first makes every open connection drop the pages it
// holds, so that they read the damage.
inline void damage(const std::string& path) {
    execSql(path, "PRAGMA user_version = 7; PRAGMA wal_checkpoint(TRUNCATE)");
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(0, std::ios::end);
    const auto size = static_cast<std::streamoff>(file.tellg());
    file.seekp(4096);
    const std::string garbage(4096, '\x5a');
    for (std::streamoff at = 4096; at < size; at += 4096) file.write(garbage.data(), 4096);
}

// A store file in a folder of its own, holding `rows` rows of insertRows;
// both go when it does.
struct StoreFile {
    explicit StoreFile(int rows) {
        store::CreateEmptyStore(path);
        execSql(path, insertRows(rows));
    }
    testsupport::TempDir dir;
    const std::string path = dir.file("mysong.mdb");
};

// Each test starts from a store file of its own holding three rows.
class StoreWithThreeRows : public ::testing::Test {
protected:
    StoreFile file_{3};
    const std::string& path_ = file_.path;
};

}  // namespace storetest
