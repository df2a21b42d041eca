#pragma once
// How a file that could not be written is reported in its item: the codes
// and texts of the download's own, after the system's error numbers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dl {

constexpr std::int32_t kErrorDiskFull = 10;           // ENOSPC, EDQUOT, EFBIG
constexpr std::int32_t kErrorWriteAccessDenied = 11;  // EACCES, EPERM, EROFS
constexpr std::int32_t kErrorFileNameTooLong = 12;    // ENAMETOOLONG, a name over 255 bytes
constexpr std::int32_t kErrorInvalidFileName = 13;    // ".", "..", "", a folder, a file or link as folder
constexpr std::int32_t kErrorFileWriteError = 14;     // any other failure

// The longest file name (one path element) the file systems here take.
constexpr std::size_t kMaxFileNameBytes = 255;

struct FileFailure {
    std::int32_t code;
    const char* text;
};

// The failure for a system error number (errno), never 0.
FileFailure FileFailureOf(int error);

// A name the file must not be given, whatever the file system says: empty,
// "." or "..", or longer than 255 bytes. `name` is the last element of the
// path (after its last "/").
std::optional<FileFailure> RefusedFileName(std::string_view name);

}  // namespace dl
