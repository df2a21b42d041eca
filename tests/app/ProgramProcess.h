#pragma once
// The program as a process the tests start: whether it holds a file open,
// and the moment it has opened its store, which a test waits for before it
// changes the store under it (a change before that moment is another test).
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "app/ListRunLock.h"
#include "store/SongStore.h"
#include "tests/support/FolderListing.h"

namespace apptest {

// Whether the process holds a file of that name open.
inline bool holdsFile(pid_t pid, const std::string& name) {
    const std::filesystem::path descriptors = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ignored;
    for (const std::string& fd : testsupport::namesIn(descriptors)) {
        if (std::filesystem::read_symlink(descriptors / fd, ignored).filename() == name) return true;
    }
    return false;
}

// Waits, bounded, until the process has opened and read its store: its
// downloads list, made once the song store has been read, holds the lock
// beside the store file. Whether it did within the bound.
inline bool storeOpened(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const std::string lock =
        std::filesystem::path(app::ListRunLock::pathFor(store::SongStore::kDefaultFile)).filename().string();
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!holdsFile(pid, lock)) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace apptest
