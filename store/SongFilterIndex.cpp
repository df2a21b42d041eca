#include "store/SongFilterIndex.h"

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

std::int64_t single(StoreConnection& db, const char* sql) {
    Statement statement = db.prepare(sql);
    return db.step(statement.get()) ? sqlite3_column_int64(statement.get(), 0) : 0;
}

// A phrase of the FTS5 query language: the text in double quotes, its own
// double quotes doubled, so that nothing the user types is an operator.
std::string phrase(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// Adds the folded texts of row `rowid`.
void addRow(StoreConnection& db, std::int64_t rowid, const std::string& folded) {
    Statement row = db.prepare("insert or replace into songfilter (id, folded) values (?, ?)");
    sqlite3_bind_int64(row.get(), 1, rowid);
    bindText(row.get(), 2, folded);
    db.step(row.get());
    Statement text = db.prepare("insert into songfilter_fts (rowid, folded) values (?, ?)");
    sqlite3_bind_int64(text.get(), 1, rowid);
    bindText(text.get(), 2, folded);
    db.step(text.get());
}

// Takes row `rowid` out of both tables; the trigram index forgets a text
// only when told the text it was given.
void removeRow(StoreConnection& db, std::int64_t rowid) {
    Statement old = db.prepare("select folded from songfilter where id = ?");
    sqlite3_bind_int64(old.get(), 1, rowid);
    if (!db.step(old.get())) return;
    const std::string folded = textColumn(old.get(), 0);
    Statement forget = db.prepare("insert into songfilter_fts (songfilter_fts, rowid, folded) values ('delete', ?, ?)");
    sqlite3_bind_int64(forget.get(), 1, rowid);
    bindText(forget.get(), 2, folded);
    db.step(forget.get());
    Statement gone = db.prepare("delete from songfilter where id = ?");
    sqlite3_bind_int64(gone.get(), 1, rowid);
    db.step(gone.get());
}

// A savepoint for the song store's writes: what failed of the index is
// undone, the store's own change stays, and the state row no longer
// matching tab1 brings a rebuild.
template <typename Change>
void keepWithin(StoreConnection& db, Change change) {
    db.exec("savepoint songfilter_keep");
    try {
        change();
        db.exec("release songfilter_keep");
    } catch (const StoreError&) {
        sqlite3_exec(db.get(), "rollback to songfilter_keep; release songfilter_keep", nullptr, nullptr, nullptr);
        throw;
    }
}

int interruptHandler(void* self) {
    const auto& cancelled = *static_cast<SongFilterIndex::Cancelled*>(self);
    return cancelled && cancelled() ? 1 : 0;
}

}  // namespace

std::string filterText(std::string_view title, std::string_view keyword) {
    // The line break never survives folding, so no text the user types
    // runs from the end of the title into the keyword.
    return songKey(title) + '\n' + songKey(keyword);
}

std::string filterQuery(std::string_view typed) { return songKey(typed); }

std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

struct SongFilterIndex::State {
    bool exists = false;
    bool ready = false;
    std::int64_t builtTo = 0;
    std::int64_t rows = 0;
    std::int64_t last = 0;
};

SongFilterIndex::SongFilterIndex(const std::string& path) : db_(std::make_unique<StoreConnection>(path)) {
    sqlite3_progress_handler(db_->get(), 4000, interruptHandler, &interrupt_);
}

SongFilterIndex::~SongFilterIndex() { sqlite3_progress_handler(db_->get(), 0, nullptr, nullptr); }

void SongFilterIndex::setInterrupt(Cancelled cancelled) { interrupt_ = std::move(cancelled); }

SongFilterIndex::State SongFilterIndex::readState() {
    State state;
    if (!present(*db_)) return state;
    Statement read = db_->prepare("select ready, built_to, rows, last from songfilter_state where id = 1");
    if (!db_->step(read.get())) return state;
    state.exists = true;
    state.ready = sqlite3_column_int64(read.get(), 0) != 0;
    state.builtTo = sqlite3_column_int64(read.get(), 1);
    state.rows = sqlite3_column_int64(read.get(), 2);
    state.last = sqlite3_column_int64(read.get(), 3);
    return state;
}

void SongFilterIndex::createTables() {
    ImmediateTransaction transaction(*db_);
    db_->exec("create table if not exists songfilter (id integer primary key, folded text not null)");
    // The folded texts are the content: the index keeps only trigrams, and
    // folding has been done, so the tokenizer need not fold case again.
    db_->exec(
        "create virtual table if not exists songfilter_fts using fts5(folded, content='songfilter', "
        "content_rowid='id', tokenize='trigram case_sensitive 1')");
    db_->exec(
        "create table if not exists songfilter_state (id integer primary key check (id = 1), ready integer not null, "
        "built_to integer not null, rows integer not null, last integer not null)");
    db_->exec("insert or ignore into songfilter_state values (1, 0, 0, 0, 0)");
    transaction.commit();
}

// Empties the index and builds it again from the first row.
void SongFilterIndex::restart() {
    ImmediateTransaction transaction(*db_);
    db_->exec("delete from songfilter");
    db_->exec("insert into songfilter_fts (songfilter_fts) values ('delete-all')");
    db_->exec("update songfilter_state set ready = 0, built_to = 0, rows = 0, last = 0");
    transaction.commit();
}

// Indexes tab1's rows past built_to a slice at a time; the last slice marks
// the index ready with what tab1 holds, as one transaction with it.
bool SongFilterIndex::buildSlices(const Wait& wait, const Progress& progress) {
    const std::int64_t total = single(*db_, "select count(*) from tab1 where rowid > (select built_to from songfilter_state)");
    std::int64_t done = 0;
    Statement add;
    for (;;) {
        if (wait.isCancelled()) return false;
        if (progress) progress(done, total);
        ImmediateTransaction transaction(*db_);
        // Read again in the transaction: a Clear meanwhile starts it over.
        const State state = readState();
        Statement rows = db_->prepare("select rowid, title, keys from tab1 where rowid > ? order by rowid limit ?");
        sqlite3_bind_int64(rows.get(), 1, state.builtTo);
        sqlite3_bind_int64(rows.get(), 2, kSliceRows);
        if (!add) add = db_->prepare("insert or replace into songfilter (id, folded) values (?, ?)");
        std::int64_t count = 0;
        std::int64_t last = state.builtTo;
        while (db_->step(rows.get())) {
            last = sqlite3_column_int64(rows.get(), 0);
            sqlite3_bind_int64(add.get(), 1, last);
            bindText(add.get(), 2, filterText(textColumn(rows.get(), 1), textColumn(rows.get(), 2)));
            db_->step(add.get());
            sqlite3_reset(add.get());
            ++count;
        }
        // The slice's trigrams in one statement: far cheaper than row by row.
        Statement index = db_->prepare(
            "insert into songfilter_fts (rowid, folded) select id, folded from songfilter where id > ? and id <= ?");
        sqlite3_bind_int64(index.get(), 1, state.builtTo);
        sqlite3_bind_int64(index.get(), 2, last);
        db_->step(index.get());
        done += count;
        Statement mark = db_->prepare("update songfilter_state set built_to = ?, ready = ?, rows = ?, last = ?");
        sqlite3_bind_int64(mark.get(), 1, last);
        const bool finished = count < kSliceRows;
        sqlite3_bind_int(mark.get(), 2, finished ? 1 : 0);
        sqlite3_bind_int64(mark.get(), 3, finished ? single(*db_, "select count(*) from tab1") : 0);
        sqlite3_bind_int64(mark.get(), 4, last);
        db_->step(mark.get());
        transaction.commit();
        if (finished) return true;
    }
}

bool SongFilterIndex::bringUpToDate(const Wait& wait, const Progress& progress) {
    StoreConnection::WaitScope scope(*db_, wait);
    State state = readState();
    if (!state.exists) {
        createTables();
        state = readState();
        // Comparing the count now would only repeat what the build finds.
        checkedVersion_ = db_->dataVersion();
    }
    if (state.ready) {
        // Cheap: both are lookups by rowid.
        const std::int64_t stored = single(*db_, "select coalesce(max(rowid), 0) from tab1");
        if (stored <= state.last) return true;
        // Rows another program appended: indexed from the last one on.
        Statement resume = db_->prepare("update songfilter_state set ready = 0, built_to = ?");
        sqlite3_bind_int64(resume.get(), 1, state.last);
        db_->step(resume.get());
    }
    return buildSlices(wait, progress);
}

bool SongFilterIndex::verify(const Wait& wait, const Progress& progress) {
    StoreConnection::WaitScope scope(*db_, wait);
    const std::int64_t version = db_->dataVersion();
    if (version == checkedVersion_) return true;
    const State state = readState();
    if (!state.ready) return bringUpToDate(wait, progress);
    Statement count = db_->prepare(
        "select count(*), coalesce(max(rowid), 0), (select rows from songfilter_state), "
        "(select last from songfilter_state) from tab1");
    db_->step(count.get());
    const bool inStep = sqlite3_column_int64(count.get(), 0) == sqlite3_column_int64(count.get(), 2) &&
                        sqlite3_column_int64(count.get(), 1) == sqlite3_column_int64(count.get(), 3);
    count.reset();
    if (!inStep) {
        restart();
        if (!buildSlices(wait, progress)) return false;
    }
    checkedVersion_ = version;
    return true;
}

void SongFilterIndex::matches(std::string_view query, const std::function<bool(std::int64_t)>& found) {
    const bool indexed = characterCount(query) >= kIndexedChars;
    Statement search = db_->prepare(indexed ? "select rowid from songfilter_fts where songfilter_fts match ? order by rowid"
                                            : "select id from songfilter where instr(folded, ?) > 0 order by id");
    if (indexed) bindText(search.get(), 1, phrase(query));
    else bindText(search.get(), 1, query);
    while (db_->step(search.get()))
        if (!found(sqlite3_column_int64(search.get(), 0))) return;
}

bool SongFilterIndex::present(StoreConnection& db) {
    // The schema in memory is as fresh as the statement that just ran, and
    // asking it costs no statement.
    return sqlite3_table_column_metadata(db.get(), "main", kStateTable, "ready", nullptr, nullptr, nullptr, nullptr,
                                         nullptr) == SQLITE_OK;
}

void SongFilterIndex::keepInserted(StoreConnection& db, std::int64_t rowid, std::string_view title,
                                   std::string_view keyword) {
    if (!present(db)) return;
    keepWithin(db, [&] {
        // While the index is built, the build reaches the row by itself.
        if (single(db, "select ready from songfilter_state") == 0) return;
        addRow(db, rowid, filterText(title, keyword));
        Statement mark = db.prepare("update songfilter_state set rows = rows + 1, last = max(last, ?), built_to = max(built_to, ?)");
        sqlite3_bind_int64(mark.get(), 1, rowid);
        sqlite3_bind_int64(mark.get(), 2, rowid);
        db.step(mark.get());
    });
}

void SongFilterIndex::keepDeleted(StoreConnection& db, std::int64_t rowid) {
    if (!present(db)) return;
    // Whether the store's delete just before took a row out of tab1.
    const bool deleted = sqlite3_changes(db.get()) > 0;
    keepWithin(db, [&] {
        removeRow(db, rowid);
        if (deleted && single(db, "select ready from songfilter_state") != 0)
            db.exec("update songfilter_state set rows = rows - 1");
    });
}

void SongFilterIndex::keepCleared(StoreConnection& db) {
    if (!present(db)) return;
    keepWithin(db, [&] {
        db.exec("delete from songfilter");
        db.exec("insert into songfilter_fts (songfilter_fts) values ('delete-all')");
        // An empty table is an index in step; a build under way has nothing left to do.
        db.exec("update songfilter_state set ready = 1, built_to = 0, rows = 0, last = 0");
    });
}

}  // namespace store
