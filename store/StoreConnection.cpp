#include "store/StoreConnection.h"

#include <algorithm>
#include <thread>

#include <sqlite3.h>

namespace store {

bool StoreError::locked() const {
    const int primary = code_ & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

Wait Wait::For(std::chrono::milliseconds limit, std::function<bool()> cancelled) {
    return Wait{Clock::now() + limit, std::move(cancelled)};
}

void StatementCloser::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

StoreConnection::StoreConnection(const std::string& path) {
    // Never SQLITE_OPEN_CREATE: the program does not make its store. Each
    // connection is kept to one thread at a time by its owner, so SQLite's
    // own mutex would only cost time on every step.
    const int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(message, rc);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_handler(db_, &StoreConnection::busyHandler, this);
}

StoreConnection::~StoreConnection() { sqlite3_close_v2(db_); }

StoreConnection::WaitScope::WaitScope(StoreConnection& connection, Wait wait)
    : connection_(connection), previous_(std::move(connection.wait_)) {
    connection_.wait_ = std::move(wait);
}

StoreConnection::WaitScope::~WaitScope() { connection_.wait_ = std::move(previous_); }

int StoreConnection::busyHandler(void* self, int) {
    const Wait& wait = static_cast<StoreConnection*>(self)->wait_;
    if (wait.isCancelled()) return 0;
    const auto now = Clock::now();
    if (now >= wait.until) return 0;
    // Short naps: a cancelled wait ends within one of them.
    std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(2), wait.until - now));
    return 1;
}

void StoreConnection::fail(int code) { throw StoreError(sqlite3_errmsg(db_), code); }

Statement StoreConnection::prepare(const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
    Statement statement(raw);
    if (rc != SQLITE_OK) fail(rc);
    return statement;
}

void StoreConnection::exec(const std::string& sql) {
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(rc);
}

bool StoreConnection::step(sqlite3_stmt* statement) {
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail(rc);
}

std::int64_t StoreConnection::dataVersion() {
    Statement statement = prepare("PRAGMA data_version");
    if (!step(statement.get())) fail(SQLITE_ERROR);
    return sqlite3_column_int64(statement.get(), 0);
}

}  // namespace store
