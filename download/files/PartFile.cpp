#include "download/files/PartFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <utility>

#include "download/files/DiskCalls.h"

namespace dl {

namespace {

constexpr std::string_view kPrefix = ".brelvo-";
constexpr std::string_view kSuffix = ".part";
// Beside a kept part file: what identifies it (KeptPart.h).
constexpr std::string_view kKeptSuffix = ".kept";
// An identity being written, before it is renamed over the one in force.
constexpr std::string_view kNextSuffix = ".next";
constexpr int kNameAttempts = 100;

// A short name of its own: a name near the length limit must still leave room for it.
std::string randomName() {
    static thread_local std::mt19937 random{std::random_device{}()};
    return std::string(kPrefix) + std::to_string(random() % 100000000) + std::string(kSuffix);
}

std::string inFolder(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / name).string();
}

void closeKeepingErrno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

// An unnamed file in the folder, locked, then linked in under a fresh name:
// the name appears only once the lock is held, so a part file that can be
// locked is always one that was left behind. Returns the fd, or -1 with
// errno; -2 when the file system cannot do it this way.
int createLinkedLocked(const std::string& folder, std::string& path) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? -2 : -1;
    if (::flock(fd, LOCK_EX) != 0) {
        closeKeepingErrno(fd);
        return -1;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        path = inFolder(folder, randomName());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return fd;
        if (errno != EEXIST) break;
    }
    const bool noProc = errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0;
    closeKeepingErrno(fd);
    return noProc ? -2 : -1;
}

// Where that cannot be had: created under its name, then locked at once.
int createThenLock(const std::string& folder, std::string& path) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        path = inFolder(folder, randomName());
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return -1;
        }
        if (::flock(fd, LOCK_EX) == 0) return fd;
        const int saved = errno;
        ::unlink(path.c_str());
        ::close(fd);
        errno = saved;
        return -1;
    }
    errno = EEXIST;
    return -1;
}

void setLastWriteTime(int fd, TDateTime date) {
    try {
        const timespec times[2] = {{0, UTIME_OMIT}, {InstantOfLocalDateTime(date), 0}};
        ::futimens(fd, times);
    } catch (...) {
        // A date no file can carry: the time of writing stays.
    }
}

// The side files first: an identity without its part file is nothing, while
// a part file without one is simply left behind.
void unlinkSideFiles(const std::string& partPath) {
    diskCalls().unlink(NextIdentityPathOf(partPath));
    diskCalls().unlink(IdentityPathOf(partPath));
}

int copyAll(int from, int to, std::uint64_t size) {
    off_t in = 0;
    off_t out = 0;
    while (static_cast<std::uint64_t>(in) < size) {
        const ssize_t n = ::copy_file_range(from, &in, to, &out, static_cast<std::size_t>(size - in), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
    }
    return 0;
}

}  // namespace

std::unique_ptr<PartFile> PartFile::Create(const std::string& where, int& error) {
    const std::string folder = where.empty() ? std::string(".") : where;
    std::string path;
    int fd = createLinkedLocked(folder, path);
    if (fd == -2) fd = createThenLock(folder, path);
    if (fd < 0) {
        error = errno != 0 ? errno : EIO;
        return nullptr;
    }
    error = 0;
    return std::unique_ptr<PartFile>(new PartFile(fd, std::move(path)));
}

std::unique_ptr<PartFile> PartFile::OpenLeft(const std::string& path, bool writable) {
    const int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat held {}, named {};
    // Locked by a program still writing it: not ours. And it must still be
    // the file of that name once the lock is had (not one removed meanwhile),
    // and have no other name: a part file is made with one, and one linked to
    // a file elsewhere is no download's, never to be written through.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode) ||
        held.st_nlink != 1 ||
        ::lstat(path.c_str(), &named) != 0 || named.st_ino != held.st_ino || named.st_dev != held.st_dev) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<PartFile> file(new PartFile(fd, path));
    file->size_ = static_cast<std::uint64_t>(held.st_size);
    file->writebackFrom_ = file->size_;
    file->kept_ = true;
    return file;
}

PartFile::~PartFile() {
    // Removed while still locked, so no other program can take it meanwhile.
    if (!named_ && !kept_ && !removed_) {
        unlinkSideFiles(path_);
        ::unlink(path_.c_str());
    }
    if (fd_ >= 0) ::close(fd_);
}

std::time_t PartFile::modified() const {
    struct stat info {};
    return ::fstat(fd_, &info) == 0 ? info.st_mtime : 0;
}

int PartFile::TakeOver(std::uint64_t held) {
    if (held > size_) return EIO;
    if (held < size_ && ::ftruncate(fd_, static_cast<off_t>(held)) != 0) return errno;
    size_ = held;
    writebackFrom_ = held;
    kept_ = false;
    return 0;
}

int PartFile::Truncate() {
    if (::ftruncate(fd_, 0) != 0) return errno;
    size_ = 0;
    writebackFrom_ = 0;
    return 0;
}

int PartFile::Sync() { return diskCalls().dataSync(fd_, path_); }

int PartFile::Remove() {
    if (named_) return EINVAL;
    // The identity first: an identity without its part file is no kept one,
    // while a part file without one is simply left behind.
    ::unlink(NextIdentityPathOf(path_).c_str());
    if (::unlink(IdentityPathOf(path_).c_str()) != 0 && errno != ENOENT) return errno;
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT) return errno;
    removed_ = true;
    return 0;
}

int PartFile::Append(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(size_));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
        size_ += static_cast<std::uint64_t>(n);
    }
    // Only a start (SetEarlyWriteback): what it fails at, the sync meets.
    constexpr std::uint64_t kWritebackStep = std::uint64_t(4) << 20;
    if (earlyWriteback_ && size_ - writebackFrom_ >= kWritebackStep) {
        (void)::sync_file_range(fd_, static_cast<off_t>(writebackFrom_), static_cast<off_t>(size_ - writebackFrom_),
                                SYNC_FILE_RANGE_WRITE);
        writebackFrom_ = size_;
    }
    return 0;
}

int PartFile::TakeName(const std::string& path, TDateTime date) {
    if (named_) return EINVAL;
    if (date != 0) setLastWriteTime(fd_, date);
    // The bytes are on the disk before the name says the song is there: a
    // power cut then leaves the older file, or the whole new one.
    if (const int error = diskCalls().dataSync(fd_, path_)) return error;
    const int renamed = diskCalls().rename(path_, path);
    if (renamed == 0) {
        const std::string hidden = std::exchange(path_, path);
        const std::string from = FolderOf(hidden);
        named_ = true;
        // The name is on the disk before the identity that could have
        // continued the song goes, and before anyone hears it has ended.
        const std::string to = FolderOf(path);
        int error = diskCalls().folderSync(to);
        if (error == 0 && from != to) error = diskCalls().folderSync(from);
        if (error != 0) return error;
        unlinkSideFiles(hidden);
        return 0;
    }
    if (renamed != EXDEV) return renamed;
    // Another file system: a part file beside the target takes the bytes.
    int error = 0;
    std::unique_ptr<PartFile> there = Create(FolderOf(path), error);
    if (!there) return error;
    if ((error = copyAll(fd_, there->fd_, size_)) != 0) return error;
    there->size_ = size_;
    if ((error = there->TakeName(path, date)) != 0) return error;
    unlinkSideFiles(path_);
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = std::exchange(there->fd_, -1);
    path_ = there->path_;
    there->named_ = true;
    named_ = true;
    return 0;
}

std::string IdentityPathOf(const std::string& partPath) {
    std::string path = partPath;
    if (path.size() >= kSuffix.size() && path.compare(path.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0)
        path.erase(path.size() - kSuffix.size());
    return path + std::string(kKeptSuffix);
}

std::string NextIdentityPathOf(const std::string& partPath) {
    std::string path = IdentityPathOf(partPath);
    path.erase(path.size() - kKeptSuffix.size());
    return path + std::string(kNextSuffix);
}

std::string PartPathOfIdentity(const std::string& identityPath) {
    std::string path = identityPath;
    for (const std::string_view suffix : {kKeptSuffix, kNextSuffix}) {
        if (path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
            path.erase(path.size() - suffix.size());
            break;
        }
    }
    return path + std::string(kSuffix);
}

bool IsIdentityFileName(std::string_view name) {
    return name.size() > kPrefix.size() + kKeptSuffix.size() && name.substr(0, kPrefix.size()) == kPrefix &&
           name.substr(name.size() - kKeptSuffix.size()) == kKeptSuffix;
}

bool IsNextIdentityFileName(std::string_view name) {
    return name.size() > kPrefix.size() + kNextSuffix.size() && name.substr(0, kPrefix.size()) == kPrefix &&
           name.substr(name.size() - kNextSuffix.size()) == kNextSuffix;
}

bool IsPartFileName(std::string_view name) {
    return name.size() > kPrefix.size() + kSuffix.size() && name.substr(0, kPrefix.size()) == kPrefix &&
           name.substr(name.size() - kSuffix.size()) == kSuffix;
}

bool IsOwnFileName(std::string_view name) {
    return IsPartFileName(name) || IsIdentityFileName(name) || IsNextIdentityFileName(name);
}

int MakeFolders(const std::string& folder) {
    if (folder.empty()) return 0;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!error) return 0;
    std::error_code ignored;
    if (std::filesystem::is_directory(folder, ignored)) return 0;
    return error.value() != 0 ? error.value() : EIO;
}

}  // namespace dl
