#include "store/LinkVerdictStore.h"

#include <sqlite3.h>

#include <unordered_set>

namespace store {
namespace {

constexpr std::size_t kTextLimit = 1024;  // reasons and validators are short; a longer one is cut

void bindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(std::min(text.size(), kTextLimit)), SQLITE_TRANSIENT);
}

std::string textColumn(sqlite3_stmt* s, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(s, column));
    return text ? std::string(text, std::min(size, kTextLimit)) : std::string();
}

bool isNull(sqlite3_stmt* s, int column) { return sqlite3_column_type(s, column) == SQLITE_NULL; }

constexpr const char* kVerdictColumns =
    "checked_at, verdict, code, reason, status, size, kbps, seconds, etag, last_modified";

// The verdict in the row's columns from `at` on (kVerdictColumns); nothing
// for a row no save could have written.
std::optional<StoredVerdict> readVerdict(sqlite3_stmt* s, int at, std::string url) {
    StoredVerdict v;
    v.url = std::move(url);
    v.checkedAt = sqlite3_column_int64(s, at);
    const int verdict = sqlite3_column_int(s, at + 1);
    v.code = sqlite3_column_int(s, at + 2);
    v.reason = textColumn(s, at + 3);
    v.status = sqlite3_column_int(s, at + 4);
    if (!isNull(s, at + 5)) v.size = sqlite3_column_int64(s, at + 5);
    if (!isNull(s, at + 6)) v.kbps = sqlite3_column_int(s, at + 6);
    if (!isNull(s, at + 7)) v.seconds = sqlite3_column_double(s, at + 7);
    v.etag = textColumn(s, at + 8);
    v.lastModified = textColumn(s, at + 9);
    const bool sound = verdict >= 0 && verdict <= 3 && (!v.size || *v.size >= 0) &&
                       (!v.kbps || (*v.kbps > 0 && *v.kbps <= 1000)) &&
                       (!v.seconds || (*v.seconds >= 0 && *v.seconds < 1e7));
    if (!sound) return std::nullopt;
    v.verdict = static_cast<LinkVerdictKind>(verdict);
    return v;
}

}  // namespace

LinkVerdictStore::LinkVerdictStore(const std::string& path) : db_(std::make_unique<StoreConnection>(path)) {}

bool LinkVerdictStore::tableExistsLocked() {
    Statement exists = db_->prepare("select 1 from sqlite_master where type = 'table' and name = 'linkverdicts'");
    return db_->step(exists.get());
}

void LinkVerdictStore::save(const std::vector<StoredVerdict>& verdicts, std::chrono::milliseconds wait) {
    std::lock_guard lock(mutex_);
    StoreConnection::WaitScope scope(*db_, Wait::For(wait));
    db_->exec("begin immediate");
    try {
        db_->exec(
            "create table if not exists linkverdicts (url text primary key, checked_at integer, verdict integer, "
            "code integer, reason text, status integer, size integer, kbps integer, seconds real, etag text, "
            "last_modified text)");
        Statement put = db_->prepare("insert or replace into linkverdicts values (?,?,?,?,?,?,?,?,?,?,?)");
        sqlite3_stmt* s = put.get();
        for (const StoredVerdict& v : verdicts) {
            sqlite3_bind_text(s, 1, v.url.data(), static_cast<int>(v.url.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(s, 2, v.checkedAt);
            sqlite3_bind_int(s, 3, static_cast<int>(v.verdict));
            sqlite3_bind_int(s, 4, v.code);
            bindText(s, 5, v.reason);
            sqlite3_bind_int(s, 6, v.status);
            v.size ? sqlite3_bind_int64(s, 7, *v.size) : sqlite3_bind_null(s, 7);
            v.kbps ? sqlite3_bind_int(s, 8, *v.kbps) : sqlite3_bind_null(s, 8);
            v.seconds ? sqlite3_bind_double(s, 9, *v.seconds) : sqlite3_bind_null(s, 9);
            bindText(s, 10, v.etag);
            bindText(s, 11, v.lastModified);
            db_->step(s);
            sqlite3_reset(s);
        }
        db_->exec("commit");
    } catch (...) {
        sqlite3_exec(db_->get(), "rollback", nullptr, nullptr, nullptr);
        throw;
    }
}

std::vector<StoredVerdict> LinkVerdictStore::find(const std::vector<std::string>& urls,
                                                  std::chrono::milliseconds wait) {
    std::lock_guard lock(mutex_);
    StoreConnection::WaitScope scope(*db_, Wait::For(wait));
    std::vector<StoredVerdict> found;
    if (urls.empty() || !tableExistsLocked()) return found;
    Statement get = db_->prepare(std::string("select ") + kVerdictColumns + " from linkverdicts where url = ?");
    sqlite3_stmt* s = get.get();
    for (const std::string& url : urls) {
        sqlite3_bind_text(s, 1, url.data(), static_cast<int>(url.size()), SQLITE_TRANSIENT);
        if (db_->step(s)) {
            if (auto v = readVerdict(s, 0, url)) found.push_back(std::move(*v));
        }
        sqlite3_reset(s);
    }
    return found;
}

LinkVerdictStore::SongVerdicts LinkVerdictStore::findOfSongs(std::int64_t afterRowid,
                                                             std::chrono::milliseconds wait) {
    std::lock_guard lock(mutex_);
    StoreConnection::WaitScope scope(*db_, Wait::For(wait));
    SongVerdicts result;
    // One read transaction: the largest id and the rows up to it agree.
    db_->exec("begin");
    try {
        Statement last = db_->prepare("select coalesce(max(rowid), 0) from tab1");
        if (db_->step(last.get())) result.lastRowid = sqlite3_column_int64(last.get(), 0);
        last.reset();
        if (afterRowid > result.lastRowid) afterRowid = 0;
        if (result.lastRowid > afterRowid && tableExistsLocked()) {
            Statement get = db_->prepare(std::string("select v.url, ") + kVerdictColumns +
                                         " from tab1 t join linkverdicts v on v.url = t.url2"
                                         " where t.rowid > ? and t.rowid <= ?");
            sqlite3_stmt* s = get.get();
            sqlite3_bind_int64(s, 1, afterRowid);
            sqlite3_bind_int64(s, 2, result.lastRowid);
            std::unordered_set<std::string> seen;
            while (db_->step(s)) {
                // The address whole: it is what the grid looks the row up by.
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
                std::string url = text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(s, 0)))
                                       : std::string();
                if (!seen.insert(url).second) continue;
                if (auto v = readVerdict(s, 1, std::move(url))) result.verdicts.push_back(std::move(*v));
            }
        }
        db_->exec("commit");
    } catch (...) {
        sqlite3_exec(db_->get(), "rollback", nullptr, nullptr, nullptr);
        throw;
    }
    return result;
}

void LinkVerdictStore::interrupt() { sqlite3_interrupt(db_->get()); }

}  // namespace store
