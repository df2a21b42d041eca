#pragma once
// The few calls that decide what a power cut leaves of a download: syncing a
// file's bytes, syncing a folder's names, renaming and removing. They go
// through one layer so that the order they come in can be watched, and a
// failure of any of them played, by whoever installs a layer of its own.
#include <string>

namespace dl {

class DiskCalls {
public:
    virtual ~DiskCalls() = default;
    // Each returns 0 or an errno. `path` names the file `fd` is open on.
    virtual int dataSync(int fd, const std::string& path);
    virtual int folderSync(const std::string& folder);
    virtual int rename(const std::string& from, const std::string& to);
    virtual int unlink(const std::string& path);
};

// The layer in force: the system's own unless one is installed.
DiskCalls& diskCalls();

// Installs `calls` for its lifetime (one at a time; the one before comes
// back). The calls may come from any thread.
class ScopedDiskCalls {
public:
    explicit ScopedDiskCalls(DiskCalls& calls);
    ~ScopedDiskCalls();
    ScopedDiskCalls(const ScopedDiskCalls&) = delete;
    ScopedDiskCalls& operator=(const ScopedDiskCalls&) = delete;

private:
    DiskCalls* before_;
};

// The folder a path is in ("." for a bare name).
std::string FolderOf(const std::string& path);

}  // namespace dl
