#pragma once
// Whether a finished song's file is still the one the program saved: a
// plain file at its path (a link put in its place is not followed) with the
// device, inode and size recorded when it finished. One lstat; run on a
// worker, never on the UI thread for many songs.
#include "store/FinishedSongStore.h"

namespace store {

enum class FinishedFileState {
    Kept,      // the very file, as it was saved
    Gone,      // nothing there any more
    Replaced,  // something else there: another file, another size, a link, a folder
};

FinishedFileState checkFinishedFile(const FinishedSong& song);

// The plain file at `path` as a finished song would record it (url, title
// and time left empty); false when there is none (a link, a folder, nothing).
bool finishedFileAt(const std::string& path, FinishedSong& song);

}  // namespace store
