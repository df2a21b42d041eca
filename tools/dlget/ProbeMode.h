#pragma once
// dlget --probe URL...: each link probed as the program probes one, one
// line per URL in the order given.

namespace dlget {

// argv[1] is "--probe". Returns the exit status.
int runProbe(int argc, char** argv);

}  // namespace dlget
