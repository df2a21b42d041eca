#include "download/files/DlFileErrors.h"

#include <cerrno>

namespace dl {

FileFailure FileFailureOf(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return {kErrorDiskFull, "Disk full"};
        case EACCES:
        case EPERM:
        case EROFS:
            return {kErrorWriteAccessDenied, "Write access denied"};
        case ENAMETOOLONG:
            return {kErrorFileNameTooLong, "File name too long"};
        // A folder where the file should be, a file or a dangling link where
        // a folder should be, a name the system cannot take.
        case EISDIR:
        case ENOTDIR:
        case ELOOP:
        case EINVAL:
        case ENOENT:
        case EEXIST:
            return {kErrorInvalidFileName, "Invalid file name"};
        default:
            return {kErrorFileWriteError, "File write error"};
    }
}

std::optional<FileFailure> RefusedFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return FileFailureOf(EINVAL);
    if (name.size() > kMaxFileNameBytes) return FileFailureOf(ENAMETOOLONG);
    return std::nullopt;
}

}  // namespace dl
