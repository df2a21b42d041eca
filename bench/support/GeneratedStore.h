#pragma once
// Stores made for a benchmark: many rows written at once, as months of use
// would have left them.
#include <cstdint>
#include <functional>
#include <string>

struct sqlite3_stmt;

namespace benchsupport {

// Runs the one statement `sql` for rows 0 to `rows` - 1 of the store file at
// `path`, all in one transaction (the file in WAL mode, as the program keeps
// it); `bind(statement, i)` binds row i's values.
void insertRows(const std::string& path, const char* sql, std::int64_t rows,
                const std::function<void(sqlite3_stmt*, std::int64_t)>& bind);

// Binds `text` to parameter `index`, copied.
void bindText(sqlite3_stmt* statement, int index, const std::string& text);

}  // namespace benchsupport
