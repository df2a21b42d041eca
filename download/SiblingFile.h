#pragma once
// A new hidden file beside the one a download is to become: the bytes go
// there first and the file then takes the download's name in one step, so a
// file of that name is either the old one or the whole new one. Removed when
// dropped unless it took the name.
#include <string>
#include <string_view>

#include "download/DlDateTime.h"

namespace dl {

class SiblingFile {
public:
    // Creates it in `folder` (with the usual permissions, so the umask
    // applies). Check open() before use.
    explicit SiblingFile(const std::string& folder);
    ~SiblingFile();
    SiblingFile(const SiblingFile&) = delete;
    SiblingFile& operator=(const SiblingFile&) = delete;

    bool open() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Writes `content` from the start, cuts the file to its length, gives it
    // `date` as its last-write time (a local date-time; 0 or a date no file
    // can carry leaves the time of writing) and the name `path`. Returns
    // whether the file now has that name.
    bool TakeName(const std::string& path, std::string_view content, TDateTime date);

private:
    int fd_ = -1;
    std::string path_;
    bool named_ = false;
};

}  // namespace dl
