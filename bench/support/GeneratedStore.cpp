#include "bench/support/GeneratedStore.h"

#include <cstdio>

#include <sqlite3.h>

namespace benchsupport {

void insertRows(const std::string& path, const char* sql, std::int64_t rows,
                const std::function<void(sqlite3_stmt*, std::int64_t)>& bind) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::fprintf(stderr, "cannot open %s\n", path.c_str());
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; begin", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &insert, nullptr) != SQLITE_OK)
        std::fprintf(stderr, "%s: %s\n", sql, sqlite3_errmsg(db));
    for (std::int64_t i = 0; insert && i < rows; ++i) {
        bind(insert, i);
        if (sqlite3_step(insert) != SQLITE_DONE) {
            std::fprintf(stderr, "row %lld of %s: %s\n", static_cast<long long>(i), path.c_str(), sqlite3_errmsg(db));
            break;
        }
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.c_str(), -1, SQLITE_TRANSIENT);
}

}  // namespace benchsupport
