#pragma once
// One change to the store's side tables, taken with "begin immediate" and
// rolled back unless committed: the indexes kept beside tab1 share it.
#include <sqlite3.h>

#include "store/StoreConnection.h"

namespace store {

class ImmediateTransaction {
public:
    explicit ImmediateTransaction(StoreConnection& db) : db_(db) { db_.exec("begin immediate"); }
    ~ImmediateTransaction() {
        if (!done_) sqlite3_exec(db_.get(), "rollback", nullptr, nullptr, nullptr);
    }
    ImmediateTransaction(const ImmediateTransaction&) = delete;
    ImmediateTransaction& operator=(const ImmediateTransaction&) = delete;
    void commit() {
        db_.exec("commit");
        done_ = true;
    }

private:
    StoreConnection& db_;
    bool done_ = false;
};

}  // namespace store
