#include "download/files/DlFileErrors.h"

#include <cerrno>

#include "download/files/PartFile.h"

namespace dl {

DownloadError FileErrorOf(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return kErrDiskFull;
        case EACCES:
        case EPERM:
        case EROFS:
            return kErrWriteAccessDenied;
        case ENAMETOOLONG:
            return kErrFileNameTooLong;
        case EISDIR:
        case ENOTDIR:
        case ELOOP:
        case EINVAL:
        case ENOENT:
        case EEXIST:
            return kErrInvalidFileName;
        default:
            return kErrFileWriteError;
    }
}

std::optional<DownloadError> RefusedFileName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || IsOwnFileName(name)) return FileErrorOf(EINVAL);
    if (name.size() > kMaxFileNameBytes) return FileErrorOf(ENAMETOOLONG);
    return std::nullopt;
}

}  // namespace dl
