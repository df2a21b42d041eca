#pragma once
// The failure of a store operation, with the database's error text and, when
// the database gave one, its result code.
#include <stdexcept>
#include <string>

namespace store {

class StoreError : public std::runtime_error {
public:
    explicit StoreError(const std::string& message, int code = 0) : std::runtime_error(message), code_(code) {}
    // The database's result code (SQLITE_*), 0 when the failure is the store's own.
    int code() const { return code_; }
    // True when the file was locked by someone else for longer than the
    // operation could wait.
    bool locked() const;

private:
    int code_;
};

}  // namespace store
