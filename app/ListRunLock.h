#pragma once
// One program at a time runs the downloads list of a store file: each holds
// an advisory lock (flock) on a file beside the store while it runs the
// list. The kernel lets the lock go when the holder ends, however it ends,
// so a crash never leaves the list locked.
#include <string>

namespace app {

class ListRunLock {
public:
    // The lock file beside the store file at `storePath`.
    static std::string pathFor(const std::string& storePath);

    // Tries once, without waiting; held() says whether it was had.
    explicit ListRunLock(const std::string& storePath);
    ~ListRunLock();
    ListRunLock(const ListRunLock&) = delete;
    ListRunLock& operator=(const ListRunLock&) = delete;

    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

}  // namespace app
