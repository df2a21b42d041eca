#include "store/FinishedFileCheck.h"

#include <sys/stat.h>

namespace store {

bool finishedFileAt(const std::string& path, FinishedSong& song) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    song.path = path;
    song.size = static_cast<std::int64_t>(st.st_size);
    song.device = static_cast<std::uint64_t>(st.st_dev);
    song.inode = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

FinishedFileState checkFinishedFile(const FinishedSong& song) {
    struct stat st {};
    // Nothing the program can reach there (also behind a folder it may no
    // longer read): as good as gone for the user of this program.
    if (::lstat(song.path.c_str(), &st) != 0) return FinishedFileState::Gone;
    const bool same = S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_dev) == song.device &&
                      static_cast<std::uint64_t>(st.st_ino) == song.inode &&
                      static_cast<std::int64_t>(st.st_size) == song.size;
    return same ? FinishedFileState::Kept : FinishedFileState::Replaced;
}

}  // namespace store
