#pragma once
// Readers of two response headers the transfer keeps: Last-Modified and the
// Set-Cookie lines of the raw header block.
#include <string_view>

#include "download/engine/TDlCookiesList.h"
#include "download/values/DlDateTime.h"

namespace dl {

// The RFC 1123 form (weekday, day, month name, year, hh:mm:ss, zone), read
// tolerantly (HttpDateLeniency::Tolerant) as GMT and given as local
// date-time; 0 when the day or the month is not there. Raises EConvertError
// for a date or time that does not exist, or when a number is missing or out
// of range.
TDateTime ParseLastModified(std::string_view text);

// Appends the entries of every "Set-Cookie: " line of `rawHeaders` (lines
// split at NUL and at CR LF) to `list`; with `strip`, entries named expires,
// domain or path are then deleted from the list.
void ParseSetCookies(std::string_view rawHeaders, TDlCookiesList& list, bool strip);

}  // namespace dl
