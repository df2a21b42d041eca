#pragma once
// How the download road turns a stored address into the URL it requests, the
// way a browser reads what was typed or cut out of a page.
#include <string>
#include <string_view>

namespace inet {

// Blanks and control characters at either end are dropped; characters
// outside ASCII are sent in GBK (the code page of the pages the addresses
// come from) when the text is UTF-8 and GBK holds them, byte for byte
// otherwise; then every blank, control byte and byte of 128 and above left
// inside is percent-encoded. Everything else, "%" included, stays as written.
std::string browserUrl(std::string_view text);

// Only the percent-encoding step, for URLs that arrive from a server.
std::string encodeUnsafeBytes(std::string_view text);

}  // namespace inet
