#include "download/SiblingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>

namespace dl {

namespace {

bool writeAllAt(int fd, std::string_view content) {
    off_t at = 0;
    while (!content.empty()) {
        const ssize_t n = ::pwrite(fd, content.data(), content.size(), at);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(n));
        at += n;
    }
    return true;
}

void setLastWriteTime(int fd, TDateTime date) {
    try {
        const timespec times[2] = {{0, UTIME_OMIT}, {InstantOfLocalDateTime(date), 0}};
        ::futimens(fd, times);
    } catch (...) {
        // A date no file can carry: the time of writing stays.
    }
}

}  // namespace

SiblingFile::SiblingFile(const std::string& folder) {
    // A short name of its own: a name near the length limit must still leave room for it.
    static thread_local std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = (std::filesystem::path(folder) / (".brelvo-" + std::to_string(random() % 100000000) + ".part")).string();
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0 || errno != EEXIST) return;
    }
}

SiblingFile::~SiblingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!named_ && !path_.empty()) ::unlink(path_.c_str());
}

bool SiblingFile::TakeName(const std::string& path, std::string_view content, TDateTime date) {
    if (fd_ < 0) return false;
    if (!writeAllAt(fd_, content)) return false;
    if (::ftruncate(fd_, static_cast<off_t>(content.size())) != 0) return false;
    if (date != 0) setLastWriteTime(fd_, date);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return false;
    if (::rename(path_.c_str(), path.c_str()) != 0) return false;
    named_ = true;
    return true;
}

}  // namespace dl
