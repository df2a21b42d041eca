#pragma once
// dlget --one-song [--dir DIR] [--name NAME] URL...: one song from its
// links, moving to the next when one fails for good, as the downloads list
// does; one line for the song.

namespace dlget {

// argv[1] is "--one-song". Returns the exit status.
int runOneSong(int argc, char** argv);

}  // namespace dlget
