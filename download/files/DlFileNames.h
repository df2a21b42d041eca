#pragma once
// The names a download is saved under: the default name made from the URL,
// the destination name a caller gives, and the page name of an HTML answer.
#include <string>
#include <string_view>

namespace dl {

// Every byte that is not ".", an ASCII letter or an ASCII digit becomes "_"
// (each byte of a multi-byte character on its own).
std::string MakeSafeFileName(std::string_view text);

// The URL's host, "_" and the part of the URL after its last "/" (without
// the "_" when that part is empty), made safe: "http://srv1/music/song.mp3"
// gives "srv1_song.mp3". A URL without any "/" gives its last character as
// that part.
std::string DefaultFileName(const std::string& url);

// A destination name (a song's title with ".mp3", a name the user gave)
// made one that names a plain visible file inside the download folder:
// every "/" and "\", NUL and every other control character (C0, DEL, and C1
// written in UTF-8) becomes "_"; a leading "." becomes "_", or gets "_"
// before it when it starts the extension (".mp3" gives "_.mp3"). So the
// extension is never lost, and no name is hidden or takes the form of the
// program's own part and side files. "." and ".." stay as they are (no file
// can take them: refused later).
std::string SafeDestinationName(std::string_view name);

// The name with ".htm" appended, unless its extension (from its last ".")
// already contains ".htm".
std::string PageFileName(const std::string& name);

// True for a content type that names an HTML page (it contains "text/html",
// ignoring case).
bool IsHtmlContentType(std::string_view contentType);

// The full path of a folder, against the current directory, with "." and
// ".." resolved; a trailing separator stays. Empty stays empty.
std::string ExpandFolder(const std::string& folder);

}  // namespace dl
