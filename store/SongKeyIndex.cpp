#include "store/SongKeyIndex.h"

#include <sqlite3.h>

#include "store/ImmediateTransaction.h"
#include "store/SongKey.h"

namespace store {
namespace {

std::string textColumn(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column))) : std::string();
}

void bindText(sqlite3_stmt* statement, int index, std::string_view text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Adds the keys of tab1's rows past `after`, through `db`, in the transaction in force.
void indexRowsAfter(StoreConnection& db, std::int64_t after) {
    Statement rows = db.prepare("select rowid, title from tab1 where rowid > ? order by rowid");
    Statement add = db.prepare("insert or replace into songkeys (id, key) values (?, ?)");
    sqlite3_bind_int64(rows.get(), 1, after);
    while (db.step(rows.get())) {
        sqlite3_bind_int64(add.get(), 1, sqlite3_column_int64(rows.get(), 0));
        bindText(add.get(), 2, songKey(textColumn(rows.get(), 1)));
        db.step(add.get());
        sqlite3_reset(add.get());
    }
}

}  // namespace

SongKeyIndex::SongKeyIndex(const std::string& path) : db_(std::make_unique<StoreConnection>(path)) {}

void SongKeyIndex::ensureLocked() {
    if (ready_) return;
    ImmediateTransaction transaction(*db_);
    Statement exists = db_->prepare("select 1 from sqlite_master where type = 'table' and name = 'songkeys'");
    if (!db_->step(exists.get())) {
        db_->exec("create table songkeys (id integer primary key, key text not null)");
        indexRowsAfter(*db_, 0);
        // Made after the rows are in: one sort instead of a million inserts into it.
        db_->exec("create index songkeys_by_key on songkeys (key)");
    }
    transaction.commit();
    ready_ = true;
}

void SongKeyIndex::catchUpLocked() {
    // Cheap when nothing is new: both are lookups by rowid.
    Statement last = db_->prepare("select (select max(id) from songkeys), (select max(rowid) from tab1)");
    db_->step(last.get());
    const std::int64_t indexed = sqlite3_column_int64(last.get(), 0);
    const std::int64_t stored = sqlite3_column_int64(last.get(), 1);
    if (stored <= indexed) return;
    ImmediateTransaction transaction(*db_);
    indexRowsAfter(*db_, indexed);
    transaction.commit();
}

std::vector<std::int64_t> SongKeyIndex::linksOf(std::string_view title, std::chrono::milliseconds wait) {
    std::vector<std::int64_t> ids;
    for (const Link& link : linkUrlsOf(title, wait)) ids.push_back(link.id);
    return ids;
}

std::vector<SongKeyIndex::Link> SongKeyIndex::linkUrlsOf(std::string_view title, std::chrono::milliseconds wait) {
    std::lock_guard lock(mutex_);
    StoreConnection::WaitScope scope(*db_, Wait::For(wait));
    ensureLocked();
    catchUpLocked();
    const std::string key = songKey(title);
    if (!lookup_)
        lookup_ = db_->prepare(
            "select s.id, t.title, t.url2 from songkeys s join tab1 t on t.rowid = s.id where s.key = ? order by s.id");
    sqlite3_stmt* lookup = lookup_.get();
    bindText(lookup, 1, key);
    std::vector<Link> links;
    try {
        while (db_->step(lookup)) {
            if (songKey(textColumn(lookup, 1)) == key)
                links.push_back({sqlite3_column_int64(lookup, 0), textColumn(lookup, 2)});
        }
    } catch (...) {
        sqlite3_reset(lookup);
        throw;
    }
    sqlite3_reset(lookup);
    return links;
}

void SongKeyIndex::keepInStep(StoreConnection& db, std::int64_t rowid, std::string_view title) {
    // No table, no index to keep. The schema in memory is as fresh as the
    // insert that just ran, and asking it costs no statement.
    if (sqlite3_table_column_metadata(db.get(), "main", kTable, "key", nullptr, nullptr, nullptr, nullptr, nullptr) !=
        SQLITE_OK)
        return;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db.get(), "insert or replace into songkeys (id, key) values (?, ?)", -1, &raw, nullptr) !=
        SQLITE_OK)
        return;
    Statement add(raw);
    sqlite3_bind_int64(raw, 1, rowid);
    bindText(raw, 2, songKey(title));
    sqlite3_step(raw);
}

}  // namespace store
