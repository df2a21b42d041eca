#include "store/SongOrderIndex.h"

#include <sqlite3.h>

#include "platform/GbkCodec.h"
#include "store/ImmediateTransaction.h"
#include "store/SongKey.h"

namespace store {
namespace {

std::string textColumn(sqlite3_stmt* statement, int column) {
    const auto* text = static_cast<const char*>(sqlite3_column_blob(statement, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column))) : std::string();
}

void bindText(sqlite3_stmt* statement, int index, std::string_view text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void bindBlob(sqlite3_stmt* statement, int index, const std::string& bytes) {
    sqlite3_bind_blob(statement, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

std::int64_t single(StoreConnection& db, const char* sql) {
    Statement statement = db.prepare(sql);
    return db.step(statement.get()) ? sqlite3_column_int64(statement.get(), 0) : 0;
}

constexpr const char* kAdd = "insert or replace into songorder (id, title, keys, url) values (?, ?, ?, ?)";

void bindRow(sqlite3_stmt* add, std::int64_t rowid, std::string_view title, std::string_view keyword,
             std::string_view url) {
    sqlite3_bind_int64(add, 1, rowid);
    bindBlob(add, 2, orderKey(title));
    bindBlob(add, 3, orderKey(keyword));
    bindText(add, 4, url);
}

int interruptHandler(void* self) {
    const auto& cancelled = *static_cast<SongOrderIndex::Cancelled*>(self);
    return cancelled && cancelled() ? 1 : 0;
}

// A verdict's place when rows are sorted by it: 可用, (unprobed), 暂时不可用,
// 不是歌曲, 失效.
constexpr const char* kVerdictPlace =
    "(case v.verdict when 0 then 0 when 3 then 2 when 1 then 3 else 4 end)";
// Only what a save could have written counts as a verdict.
constexpr const char* kSoundVerdict = " v.verdict between 0 and 3 ";
// The probed rows are few: each verdict looks its rows up by address,
// never each row its verdict.
constexpr const char* kProbedRows = " from linkverdicts v cross join songorder s on s.url = v.url where ";

std::string orderSql(SortOrder order) {
    const bool down = order.descending;
    const std::string dir = down ? " desc" : "";
    const std::string ties = down ? ", s.id desc" : ", s.id";
    switch (order.key) {
    case SortKey::Title: return "select id, 0 from songorder s order by title" + dir + ties;
    case SortKey::Keys: return "select id, 0 from songorder s order by keys" + dir + ties;
    case SortKey::Url: return "select id, 0 from songorder s order by url" + dir + ties;
    case SortKey::Verdict:
        // Reversed whole: the unprobed rows keep their place between.
        return std::string("select s.id, ") + kVerdictPlace + (down ? " = 0" : " > 0") + kProbedRows +
               kSoundVerdict + "order by " + kVerdictPlace + dir + ", coalesce(v.kbps, 0)" + (down ? "" : " desc") +
               ", coalesce(v.size, 0)" + (down ? "" : " desc") + ties;
    case SortKey::Kbps:
        return std::string("select s.id, 0") + kProbedRows + kSoundVerdict +
               "and v.kbps > 0 and v.kbps <= 1000 order by v.kbps" + dir + ties;
    case SortKey::Seconds:
        return std::string("select s.id, 0") + kProbedRows + kSoundVerdict +
               "and v.seconds >= 0 and v.seconds < 1e7 order by v.seconds" + dir + ties;
    case SortKey::Size:
        return std::string("select s.id, 0") + kProbedRows + kSoundVerdict + "and v.size >= 0 order by v.size" + dir +
               ties;
    case SortKey::None: break;
    }
    return {};
}

bool usesVerdicts(SortKey key) {
    return key == SortKey::Verdict || key == SortKey::Kbps || key == SortKey::Seconds || key == SortKey::Size;
}

constexpr const char* kIndexes[] = {
    "create index if not exists songorder_by_title on songorder (title)",
    "create index if not exists songorder_by_keys on songorder (keys)",
    "create index if not exists songorder_by_url on songorder (url)",
};

void markBuilt(StoreConnection& db, std::int64_t last, bool ready) {
    Statement mark = db.prepare("update songorder_state set built_to = ?, ready = ?");
    sqlite3_bind_int64(mark.get(), 1, last);
    sqlite3_bind_int(mark.get(), 2, ready ? 1 : 0);
    db.step(mark.get());
}

}  // namespace

bool SongOrderIndex::indexed() {
    // The last one made: the others came before it.
    Statement exists = db_->prepare("select 1 from sqlite_master where type = 'index' and name = 'songorder_by_url'");
    return db_->step(exists.get());
}

std::string orderKey(std::string_view text) {
    const std::string folded = songKey(text);
    std::string key = platform::utf8ToGbk(folded);
    // GBK bytes that give the text back are the text; otherwise (a character
    // GBK lacks, made "?") the text follows a zero byte, which no key of
    // the first kind holds. Either way equal keys are equal texts, and the
    // keys stay short: the title index is read whole by one row per song.
    if (folded.find('\0') != std::string::npos || platform::gbkToUtf8(key) != folded) {
        key += '\0';
        key += folded;
    }
    return key;
}

SongOrderIndex::SongOrderIndex(const std::string& path) : db_(std::make_unique<StoreConnection>(path)) {
    sqlite3_progress_handler(db_->get(), 4000, interruptHandler, &interrupt_);
}

SongOrderIndex::~SongOrderIndex() { sqlite3_progress_handler(db_->get(), 0, nullptr, nullptr); }

void SongOrderIndex::setInterrupt(Cancelled cancelled) { interrupt_ = std::move(cancelled); }

bool SongOrderIndex::present(StoreConnection& db) {
    return sqlite3_table_column_metadata(db.get(), "main", kStateTable, "ready", nullptr, nullptr, nullptr, nullptr,
                                         nullptr) == SQLITE_OK;
}

bool SongOrderIndex::verdictsPresent() {
    return sqlite3_table_column_metadata(db_->get(), "main", "linkverdicts", "verdict", nullptr, nullptr, nullptr,
                                         nullptr, nullptr) == SQLITE_OK;
}

void SongOrderIndex::createTables() {
    ImmediateTransaction transaction(*db_);
    db_->exec(
        "create table if not exists songorder (id integer primary key, title blob not null, keys blob not null, "
        "url text not null)");
    db_->exec(
        "create table if not exists songorder_state (id integer primary key check (id = 1), ready integer not null, "
        "built_to integer not null)");
    db_->exec("insert or ignore into songorder_state values (1, 0, 0)");
    transaction.commit();
    ++writes_;
}

bool SongOrderIndex::bringUpToDate(const Wait& wait, const Progress& progress) {
    StoreConnection::WaitScope scope(*db_, wait);
    if (!present(*db_)) createTables();
    {
        Statement state = db_->prepare("select ready, built_to from songorder_state where id = 1");
        if (!db_->step(state.get())) throw StoreError("songorder_state has no row");
        const bool ready = sqlite3_column_int64(state.get(), 0) != 0;
        const std::int64_t builtTo = sqlite3_column_int64(state.get(), 1);
        state.reset();
        // Cheap: a lookup by rowid.
        if (ready && indexed() && single(*db_, "select coalesce(max(rowid), 0) from tab1") <= builtTo) return true;
    }
    const std::int64_t total =
        single(*db_, "select count(*) from tab1 where rowid > (select built_to from songorder_state)");
    std::int64_t done = 0;
    for (;;) {
        if (wait.isCancelled()) return false;
        if (progress) progress(done, total);
        ++writes_;
        ImmediateTransaction transaction(*db_);
        const std::int64_t from = single(*db_, "select built_to from songorder_state");
        Statement rows = db_->prepare("select rowid, title, keys, url2 from tab1 where rowid > ? order by rowid limit ?");
        sqlite3_bind_int64(rows.get(), 1, from);
        sqlite3_bind_int64(rows.get(), 2, kSliceRows);
        Statement add = db_->prepare(kAdd);
        std::int64_t count = 0;
        std::int64_t last = from;
        while (db_->step(rows.get())) {
            last = sqlite3_column_int64(rows.get(), 0);
            bindRow(add.get(), last, textColumn(rows.get(), 1), textColumn(rows.get(), 2), textColumn(rows.get(), 3));
            db_->step(add.get());
            sqlite3_reset(add.get());
            ++count;
        }
        done += count;
        const bool finished = count < kSliceRows;
        // The indexes come once the rows are in: one sort each instead of a
        // million inserts into them, each index its own transaction so that
        // a writer waits for one at most.
        if (finished && !indexed()) {
            transaction.commit();
            for (const char* index : kIndexes) {
                ImmediateTransaction making(*db_);
                db_->exec(index);
                making.commit();
            }
            ImmediateTransaction marking(*db_);
            markBuilt(*db_, last, true);
            marking.commit();
            return true;
        }
        markBuilt(*db_, last, finished);
        transaction.commit();
        if (finished) return true;
    }
}

void SongOrderIndex::ordered(SortOrder order, const std::function<bool(std::int64_t, bool)>& visit) {
    if (order.key == SortKey::None) return;
    if (usesVerdicts(order.key) && !verdictsPresent()) return;
    Statement read = db_->prepare(orderSql(order));
    while (db_->step(read.get()))
        if (!visit(sqlite3_column_int64(read.get(), 0), sqlite3_column_int(read.get(), 1) != 0)) return;
}

void SongOrderIndex::songs(const std::function<void(std::int64_t, bool)>& visit) {
    Statement read = db_->prepare("select id, title from songorder order by title, id");
    std::string previous;
    bool first = true;
    while (db_->step(read.get())) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(read.get(), 1));
        const std::string_view key(bytes ? bytes : "", static_cast<std::size_t>(sqlite3_column_bytes(read.get(), 1)));
        const bool newSong = first || key != previous;
        if (newSong) previous.assign(key);
        first = false;
        visit(sqlite3_column_int64(read.get(), 0), newSong);
    }
}

std::vector<SongOrderIndex::LinkRank> SongOrderIndex::probedLinks() {
    std::vector<LinkRank> links;
    if (!verdictsPresent()) return links;
    Statement read = db_->prepare(std::string("select s.id, case v.verdict when 0 then 0 when 3 then 2 else 3 end, "
                                              "coalesce(v.kbps, 0), coalesce(v.size, 0)") +
                                  kProbedRows + kSoundVerdict);
    while (db_->step(read.get()))
        links.push_back({sqlite3_column_int64(read.get(), 0), sqlite3_column_int(read.get(), 1),
                         sqlite3_column_int64(read.get(), 2), sqlite3_column_int64(read.get(), 3)});
    return links;
}

std::size_t SongOrderIndex::addRows(const std::vector<std::int64_t>& ids, const Wait& wait) {
    if (ids.empty()) return 0;
    StoreConnection::WaitScope scope(*db_, wait);
    ImmediateTransaction transaction(*db_);
    Statement row = db_->prepare("select title, keys, url2 from tab1 where rowid = ?");
    Statement add = db_->prepare(kAdd);
    std::size_t added = 0;
    ++writes_;
    for (const std::int64_t id : ids) {
        sqlite3_bind_int64(row.get(), 1, id);
        if (db_->step(row.get())) {
            bindRow(add.get(), id, textColumn(row.get(), 0), textColumn(row.get(), 1), textColumn(row.get(), 2));
            db_->step(add.get());
            sqlite3_reset(add.get());
            ++added;
        }
        sqlite3_reset(row.get());
    }
    transaction.commit();
    return added;
}

void SongOrderIndex::keepInserted(StoreConnection& db, std::int64_t rowid, std::string_view title,
                                  std::string_view keyword, std::string_view url) {
    if (!present(db)) return;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db.get(), kAdd, -1, &raw, nullptr) != SQLITE_OK) return;
    Statement add(raw);
    bindRow(raw, rowid, title, keyword, url);
    if (sqlite3_step(raw) != SQLITE_DONE) return;
    // While a build runs it reaches the rows past its mark by itself.
    sqlite3_stmt* markRaw = nullptr;
    if (sqlite3_prepare_v2(db.get(), "update songorder_state set built_to = max(built_to, ?) where ready = 1", -1,
                           &markRaw, nullptr) != SQLITE_OK)
        return;
    Statement mark(markRaw);
    sqlite3_bind_int64(markRaw, 1, rowid);
    sqlite3_step(markRaw);
}

void SongOrderIndex::keepDeleted(StoreConnection& db, std::int64_t rowid) {
    if (!present(db)) return;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db.get(), "delete from songorder where id = ?", -1, &raw, nullptr) != SQLITE_OK) return;
    Statement gone(raw);
    sqlite3_bind_int64(raw, 1, rowid);
    sqlite3_step(raw);
}

void SongOrderIndex::keepCleared(StoreConnection& db) {
    if (!present(db)) return;
    sqlite3_exec(db.get(), "delete from songorder; update songorder_state set ready = 1, built_to = 0", nullptr,
                 nullptr, nullptr);
}

}  // namespace store
