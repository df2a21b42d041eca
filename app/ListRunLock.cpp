#include "app/ListRunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace app {

std::string ListRunLock::pathFor(const std::string& storePath) { return storePath + ".list-lock"; }

ListRunLock::ListRunLock(const std::string& storePath) {
    // Never through a link another program put there; never handed to a
    // program started from here.
    fd_ = ::open(pathFor(storePath).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    // A folder the lock cannot be made in (read-only) cannot hold two
    // programs' lists either way: the list runs.
    if (fd_ < 0) {
        held_ = true;
        return;
    }
    held_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

ListRunLock::~ListRunLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace app
