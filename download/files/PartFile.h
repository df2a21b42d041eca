#pragma once
// The hidden file a download is written into while it arrives, in the
// folder of the file it is to become (".brelvo-N.part"). It takes the
// download's name in one step at the end, so a file of that name is either
// the old one or the whole new one. While it is open an exclusive lock
// (flock) is held on it: a part file nobody holds was left by a program that
// ended in the middle, or kept for a later run (KeptPart.h), and the next
// download in that folder removes it or continues it. Removed when dropped
// (with its identity) unless it took its name or is kept.
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "download/values/DlDateTime.h"

namespace dl {

class PartFile {
public:
    // A new, empty part file in `folder` (which must exist), locked. Nothing
    // and `error` (an errno) when it cannot be made.
    static std::unique_ptr<PartFile> Create(const std::string& folder, int& error);
    // The part file at `path`, left there by a program that no longer runs
    // (none holds its lock): locked now, for writing when `writable`. It is
    // left as it is when dropped, unless TakeOver or Remove come first.
    // Nothing when it is held, gone, not a plain file, or has another name
    // (a link count other than 1).
    static std::unique_ptr<PartFile> OpenLeft(const std::string& path, bool writable);
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    int fd() const { return fd_; }
    // Where it is: the hidden name, then the name it took.
    const std::string& path() const { return path_; }
    bool named() const { return named_; }
    std::uint64_t size() const { return size_; }
    // When its bytes were last written.
    std::time_t modified() const;

    // Appends the bytes. 0 or an errno.
    int Append(const char* data, std::size_t size);
    // From now on the disk is asked to start writing each few MiB appended
    // (off at first): the sync that names or keeps the file then waits for
    // its last few MiB only. For a download of known length; one without
    // (perhaps a stream that never ends, and is then removed) is better left
    // in memory, whose bytes cost nothing to drop.
    void SetEarlyWriteback(bool on) { earlyWriteback_ = on; }
    // A left part file becomes this program's, cut to its first `held`
    // bytes (what comes after them is not trusted), and is removed when
    // dropped like one it made. 0, or an errno (EIO when it holds fewer).
    int TakeOver(std::uint64_t held);
    // Empties it. 0 or an errno.
    int Truncate();
    // Its bytes on the disk. 0 or an errno.
    int Sync();
    // It stays in its folder when dropped, and its lock goes with it: kept
    // for a later run to continue.
    void Keep() { kept_ = true; }
    bool kept() const { return kept_; }
    // Removes it from its folder now, with the identity beside it; it stays
    // locked until dropped. 0 or an errno.
    int Remove();
    // Gives the file `date` as its last-write time (a local date-time; 0, or
    // a date no file can carry, leaves the time of writing) and the name
    // `path`, replacing a file of that name, durably: its bytes synced, then
    // renamed, then the folder synced; only then does the identity beside it
    // go, and only then does it return. On another file system than the part
    // file's the bytes are copied to a part file there first. 0 or an errno;
    // when the bytes could not be synced or renamed the file keeps its hidden
    // name (and the older file stays); when the folder could not be synced
    // it has its name, but the error is returned all the same.
    int TakeName(const std::string& path, TDateTime date);

private:
    PartFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    int fd_;
    std::string path_;
    std::uint64_t size_ = 0;
    // Where the bytes the disk was not yet asked to write begin.
    std::uint64_t writebackFrom_ = 0;
    bool earlyWriteback_ = false;
    bool named_ = false;
    bool kept_ = false;
    bool removed_ = false;
};

// Whether a file name is one a part file has.
bool IsPartFileName(std::string_view name);

// A part file ".brelvo-N.part" of a song that can be continued has what
// identifies it beside it, in ".brelvo-N.kept", written anew through
// ".brelvo-N.next" (renamed over it); these give the paths from one another.
std::string IdentityPathOf(const std::string& partPath);
std::string NextIdentityPathOf(const std::string& partPath);
std::string PartPathOfIdentity(const std::string& identityPath);
bool IsIdentityFileName(std::string_view name);
bool IsNextIdentityFileName(std::string_view name);
// Whether a file name has the form of one of the program's own part and side
// files, which no download may take: the sweep of a folder would remove it.
bool IsOwnFileName(std::string_view name);

// Makes the folder and every missing folder above it. 0, or the errno of the
// step that failed when the folder is not there afterwards.
int MakeFolders(const std::string& folder);

}  // namespace dl
