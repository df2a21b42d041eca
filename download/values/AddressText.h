#pragma once
// An address split by its text alone, without a URL parser: what the
// connected-state check and the progress window's label read of it.
#include <string>

namespace dl {

// Backslashes read as slashes (not inside a double-byte character); the
// scheme is the text before the first "://", the host the text after it up
// to the next "/", without anything up to and including "@" and without ":"
// and what follows. Both are empty for an address without "://".
void SplitSchemeAndHost(const std::string& url, std::string& scheme, std::string& host);

}  // namespace dl
