#pragma once
// The hidden file a download is written into while it arrives, in the
// folder of the file it is to become (".brelvo-N.part"). It takes the
// download's name in one step at the end, so a file of that name is either
// the old one or the whole new one. While it is open an exclusive lock
// (flock) is held on it: a part file nobody holds was left by a program that
// ended in the middle, and the next download in that folder removes it.
// Removed when dropped unless it took its name.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "download/DlDateTime.h"

namespace dl {

class PartFile {
public:
    // A new, empty part file in `folder` (which must exist), locked. Nothing
    // and `error` (an errno) when it cannot be made.
    static std::unique_ptr<PartFile> Create(const std::string& folder, int& error);
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    int fd() const { return fd_; }
    // Where it is: the hidden name, then the name it took.
    const std::string& path() const { return path_; }
    bool named() const { return named_; }
    std::uint64_t size() const { return size_; }

    // Appends the bytes. 0 or an errno.
    int Append(const char* data, std::size_t size);
    // Gives the file `date` as its last-write time (a local date-time; 0, or
    // a date no file can carry, leaves the time of writing) and the name
    // `path`, replacing a file of that name. On another file system than the
    // part file's the bytes are copied to a part file there first. 0 or an
    // errno; the file keeps its hidden name (and the older file stays) when
    // it fails.
    int TakeName(const std::string& path, TDateTime date);

private:
    PartFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    int fd_;
    std::string path_;
    std::uint64_t size_ = 0;
    bool named_ = false;
};

// Whether a file name is one a part file has.
bool IsPartFileName(std::string_view name);

// Removes the part files in `folder` that no running program holds (their
// lock can be taken). Returns how many went.
int RemoveStalePartFiles(const std::string& folder);

// Makes the folder and every missing folder above it. 0, or the errno of the
// step that failed when the folder is not there afterwards.
int MakeFolders(const std::string& folder);

}  // namespace dl
