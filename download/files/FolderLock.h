#pragma once
// One lock per folder in this program, held by the sweep of a folder and by
// each take-up of a kept part file there. Both lock every part file they look
// at (flock) for a moment; without it, a take-up that meets a part file the
// sweep of another download of the same program holds just then would take
// it for another program's, and start its song over.
#include <memory>
#include <mutex>
#include <string>

namespace dl {

class FolderLock {
public:
    // Waits for the folder's lock (the folder need not exist).
    explicit FolderLock(const std::string& folder);
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    std::shared_ptr<std::mutex> mutex_;
    std::lock_guard<std::mutex> lock_;
};

}  // namespace dl
