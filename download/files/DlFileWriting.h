#pragma once
// Putting a download on disk: its folders, and the file written whole or
// not at all.
#include <string>
#include <string_view>

#include "download/values/DlDateTime.h"

namespace dl {

// Creates the folder and every missing folder above it. Failures are
// ignored: existing folders pass, and a folder that cannot be made shows
// when the file is written.
void ForceFolders(const std::string& path);

// Writes `content` as the file `path`, replacing a file of that name, and
// gives it `date` (a local date-time; 0: leave the time of writing) as its
// last-write time. The bytes go to a part file beside it first, which then
// takes the name: a file of that name is either the old one or the whole new
// one, never a part, also when the program ends in the middle. Returns 0 or
// the errno of the step that failed; never throws.
int WriteFileWhole(const std::string& path, std::string_view content, TDateTime date);

// The same, true when the file was written.
bool WriteTextFile(const std::string& path, std::string_view content, TDateTime date);

}  // namespace dl
