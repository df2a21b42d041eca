#include "download/files/DiskCalls.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace dl {

namespace {

DiskCalls& systemCalls() {
    static DiskCalls calls;
    return calls;
}

std::atomic<DiskCalls*> installed{nullptr};

}  // namespace

int DiskCalls::dataSync(int fd, const std::string&) { return ::fdatasync(fd) == 0 ? 0 : errno; }

int DiskCalls::folderSync(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

int DiskCalls::rename(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int DiskCalls::unlink(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

DiskCalls& diskCalls() {
    DiskCalls* calls = installed.load(std::memory_order_acquire);
    return calls ? *calls : systemCalls();
}

ScopedDiskCalls::ScopedDiskCalls(DiskCalls& calls) : before_(installed.exchange(&calls)) {}

ScopedDiskCalls::~ScopedDiskCalls() { installed.store(before_); }

std::string FolderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

}  // namespace dl
