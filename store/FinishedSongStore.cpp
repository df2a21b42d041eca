#include "store/FinishedSongStore.h"

#include <sqlite3.h>

#include "store/ImmediateTransaction.h"

namespace store {
namespace {

void bindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// The column's text, or nothing when it is longer than any record holds.
bool readText(sqlite3_stmt* s, int column, std::string& out) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(s, column));
    if (!text || size > FinishedSongStore::kTextLimit) return false;
    out.assign(text, size);
    return true;
}

}  // namespace

FinishedSongStore::FinishedSongStore(const std::string& path) : db_(std::make_unique<StoreConnection>(path)) {}

bool FinishedSongStore::tableExistsLocked() {
    Statement exists = db_->prepare("select 1 from sqlite_master where type = 'table' and name = 'finishedsongs'");
    return db_->step(exists.get());
}

bool FinishedSongStore::hasTable() {
    std::lock_guard lock(mutex_);
    return tableExistsLocked();
}

void FinishedSongStore::record(const std::vector<FinishedSong>& songs, std::chrono::milliseconds wait) {
    if (songs.empty()) return;
    std::lock_guard lock(mutex_);
    StoreConnection::WaitScope scope(*db_, Wait::For(wait));
    ImmediateTransaction transaction(*db_);
    db_->exec(
        "create table if not exists finishedsongs (url text primary key, title text, path text, size integer, "
        "device integer, inode integer, finished_at integer)");
    Statement put = db_->prepare("insert or replace into finishedsongs values (?,?,?,?,?,?,?)");
    sqlite3_stmt* s = put.get();
    for (const FinishedSong& song : songs) {
        bindText(s, 1, song.url);
        bindText(s, 2, song.title);
        bindText(s, 3, song.path);
        sqlite3_bind_int64(s, 4, song.size);
        // SQLite keeps signed integers; the bits come back as they went.
        sqlite3_bind_int64(s, 5, static_cast<sqlite3_int64>(song.device));
        sqlite3_bind_int64(s, 6, static_cast<sqlite3_int64>(song.inode));
        sqlite3_bind_int64(s, 7, song.finishedAt);
        db_->step(s);
        sqlite3_reset(s);
    }
    transaction.commit();
}

std::vector<FinishedSong> FinishedSongStore::all(std::chrono::milliseconds wait) {
    std::lock_guard lock(mutex_);
    StoreConnection::WaitScope scope(*db_, Wait::For(wait));
    std::vector<FinishedSong> found;
    if (!tableExistsLocked()) return found;
    Statement get =
        db_->prepare("select url, title, path, size, device, inode, finished_at from finishedsongs");
    sqlite3_stmt* s = get.get();
    while (db_->step(s)) {
        FinishedSong song;
        if (!readText(s, 0, song.url) || !readText(s, 1, song.title) || !readText(s, 2, song.path)) continue;
        song.size = sqlite3_column_int64(s, 3);
        song.device = static_cast<std::uint64_t>(sqlite3_column_int64(s, 4));
        song.inode = static_cast<std::uint64_t>(sqlite3_column_int64(s, 5));
        song.finishedAt = sqlite3_column_int64(s, 6);
        if (song.url.empty() || song.path.empty() || song.path.front() != '/' ||
            song.path.find('\0') != std::string::npos || song.size < 0)
            continue;
        found.push_back(std::move(song));
    }
    return found;
}

void FinishedSongStore::interrupt() { sqlite3_interrupt(db_->get()); }

}  // namespace store
