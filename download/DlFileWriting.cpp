#include "download/DlFileWriting.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>

namespace dl {

namespace {

// Closes a descriptor and removes the file it was made for unless kept.
class PendingFile {
public:
    PendingFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PendingFile() {
        closeFd();
        if (!kept_) ::unlink(path_.c_str());
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    bool closeFd() {
        if (fd_ < 0) return true;
        const bool ok = ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }
    void keep() { kept_ = true; }

private:
    int fd_;
    std::string path_;
    bool kept_ = false;
};

// A new, empty file in the folder of `path`, under a short hidden name of
// its own (a name near the length limit must still leave room for it).
// Created with the usual permissions, so the umask applies.
int createSibling(const std::string& path, std::string& siblingPath) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    static thread_local std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = ".brelvo-" + std::to_string(random() % 100000000) + ".part";
        siblingPath = (folder / name).string();
        const int fd = ::open(siblingPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool writeAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool setLastWriteTime(int fd, TDateTime date) {
    try {
        const timespec times[2] = {{0, UTIME_OMIT}, {InstantOfLocalDateTime(date), 0}};
        return ::futimens(fd, times) == 0;
    } catch (...) {
        return false;  // a date no file can carry
    }
}

}  // namespace

void ForceFolders(const std::string& path) {
    if (path.empty()) return;
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
}

bool WriteTextFile(const std::string& path, std::string_view content, TDateTime date) {
    try {
        std::string siblingPath;
        const int fd = createSibling(path, siblingPath);
        if (fd < 0) return false;
        PendingFile file(fd, siblingPath);
        if (!writeAll(file.fd(), content)) return false;
        // The content is what matters: a date no file can carry leaves the
        // time of writing.
        if (date != 0) setLastWriteTime(file.fd(), date);
        if (!file.closeFd()) return false;
        if (::rename(file.path().c_str(), path.c_str()) != 0) return false;
        file.keep();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace dl
