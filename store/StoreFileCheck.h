#pragma once
// The start-up error texts: what is wrong with the store file, said so that
// the user can mend it.
#include <optional>
#include <string>

namespace store {

// What keeps the database from opening the file at `path`: missing, a link to
// nothing, a folder or something else that is no plain file, or not readable.
// Nothing when it is a file this process may read.
std::optional<std::string> unusableStoreFile(const std::string& path);

// The text for a file the database opened but could not use: `databaseText`
// and `code` are the database's error; a file that is no database or holds no
// table tab1 is said to be no song store.
std::string storeOpenFailure(const std::string& path, const std::string& databaseText, int code);

}  // namespace store
