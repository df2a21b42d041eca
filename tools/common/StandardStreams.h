#pragma once
// The standard streams of every tool. A tool started with one of them closed
// would hand its number to the next file or socket it opens, and what it
// prints would land there (a page written into its own connection). And a
// tool whose output cannot be written (a full disk, a closed pipe, a closed
// descriptor) says so and fails instead of ending as if all went well.
#include <string>

namespace tools {

// Called first in main, before anything is opened: opens /dev/null for each
// of standard input, output and error that is closed, in the direction it is
// not used (input for writing, output and error for reading), so that its
// number stays taken and using it still fails as it did while closed (EBADF).
// Also ignores SIGPIPE, so that writing into a closed pipe fails with EPIPE
// and is reported like any other failure to write, rather than ending the
// tool without a word.
void guardStandardStreams();

// Flushes standard output. False, after "TOOL: cannot write to standard
// output: REASON" on standard error, when anything written to it was lost.
bool finishStandardOutput(const char* tool);

// "cannot write to standard output: REASON" for the errno value `error`:
// how every tool words a lost output.
std::string outputFailure(int error);

}  // namespace tools
