#pragma once
// One SQLite connection to the store file, and how its statements wait for a
// file that another connection holds locked: until the deadline of the wait
// in force, giving up earlier when that wait is cancelled. Used by one thread
// at a time; the song store keeps each connection under a mutex of its own.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "store/StoreError.h"

struct sqlite3;
struct sqlite3_stmt;

namespace store {

using Clock = std::chrono::steady_clock;

// How long an operation may wait for a lock (the file's or one of the
// store's own), and what makes it give up before that.
struct Wait {
    Clock::time_point until = Clock::time_point::min();
    std::function<bool()> cancelled;

    static Wait For(std::chrono::milliseconds limit, std::function<bool()> cancelled = {});
    bool isCancelled() const { return cancelled && cancelled(); }
    // Past the deadline or cancelled.
    bool over() const { return isCancelled() || Clock::now() >= until; }
};

struct StatementCloser {
    void operator()(sqlite3_stmt* statement) const;
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

class StoreConnection {
public:
    // Opens the file at `path`, which must exist, for reading and writing.
    // Throws StoreError.
    explicit StoreConnection(const std::string& path);
    ~StoreConnection();
    StoreConnection(const StoreConnection&) = delete;
    StoreConnection& operator=(const StoreConnection&) = delete;

    sqlite3* get() const { return db_; }

    // Puts `wait` in force for the statements run while it lives.
    class WaitScope {
    public:
        WaitScope(StoreConnection& connection, Wait wait);
        ~WaitScope();
        WaitScope(const WaitScope&) = delete;
        WaitScope& operator=(const WaitScope&) = delete;

    private:
        StoreConnection& connection_;
        Wait previous_;
    };

    // Throw StoreError carrying the database's text and code.
    Statement prepare(const std::string& sql);
    void exec(const std::string& sql);
    // Steps `statement` once: true for a row, false when done.
    bool step(sqlite3_stmt* statement);
    [[noreturn]] void fail(int code);
    // Changes whenever another connection, of this process or another, has
    // committed a change to the file since this connection last asked.
    std::int64_t dataVersion();

private:
    static int busyHandler(void* self, int attempts);

    sqlite3* db_ = nullptr;
    Wait wait_;
};

}  // namespace store
