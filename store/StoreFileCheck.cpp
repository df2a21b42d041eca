#include "store/StoreFileCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <sqlite3.h>

namespace store {
namespace {

// The path as the user finds it: the program opens the store in its working
// folder, which the message then names.
std::string shown(const std::string& path) {
    std::error_code ignored;
    const auto absolute = std::filesystem::absolute(path, ignored);
    return "'" + (absolute.empty() ? path : absolute.lexically_normal().string()) + "'";
}

std::string cannotOpen(const std::string& path, const std::string& why) {
    return "Could not open file " + shown(path) + ": " + why + ".";
}

std::string linkTarget(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::read_symlink(path, ignored).string();
}

std::string fromErrno(const std::string& path, int error) {
    if (error == EACCES || error == EPERM) return cannotOpen(path, "permission denied");
    return cannotOpen(path, std::strerror(error));
}

}  // namespace

std::optional<std::string> unusableStoreFile(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return "Could not find file " + shown(path) + ".";
        return fromErrno(path, errno);
    }
    if (S_ISLNK(info.st_mode) && ::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
            return cannotOpen(path, "it is a link to '" + linkTarget(path) + "', which leads to no file");
        return fromErrno(path, errno);
    }
    if (S_ISDIR(info.st_mode)) return cannotOpen(path, "it is a folder, not a file");
    if (!S_ISREG(info.st_mode)) return cannotOpen(path, "it is not a plain file");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return fromErrno(path, errno);
    ::close(fd);
    return std::nullopt;
}

std::string storeOpenFailure(const std::string& path, const std::string& databaseText, int code) {
    const bool noDatabase = (code & 0xff) == SQLITE_NOTADB;
    const bool noTable = databaseText.find("no such table") != std::string::npos;
    if (noDatabase || noTable) return "File " + shown(path) + " is not a song store: " + databaseText + ".";
    return cannotOpen(path, databaseText);
}

}  // namespace store
