#pragma once
// How a file that could not be written is told in its item: the code of the
// download's own (DownloadErrors.h) for the system's error number.
#include <cstddef>
#include <optional>
#include <string_view>

#include "download/texts/DownloadErrors.h"

namespace dl {

// The longest file name (one path element) the file systems here take.
constexpr std::size_t kMaxFileNameBytes = 255;

// The code for a system error number (errno), never kErrNone:
// kErrDiskFull for ENOSPC, EDQUOT and EFBIG; kErrWriteAccessDenied for
// EACCES, EPERM and EROFS; kErrFileNameTooLong for ENAMETOOLONG;
// kErrInvalidFileName for a folder where the file should be, a file or link
// where a folder should be, a name the system cannot take; otherwise
// kErrFileWriteError.
DownloadError FileErrorOf(int error);

// A name the file must not be given, whatever the file system says: empty,
// "." or "..", the form of the program's own part and side files (a name
// made by a caller's OnGetFileName could take it), or longer than 255 bytes. `name` is the last element of the
// path (after its last "/").
std::optional<DownloadError> RefusedFileName(std::string_view name);

}  // namespace dl
