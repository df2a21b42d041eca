// What identifies a kept part file, read back from its file on disk: any
// bytes there are either exactly one identity or none.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "download/files/KeptPart.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto identity = dl::ParsePartIdentity(text);
    if (!identity) return 0;
    // Only an identity the transfer could have kept reads as one.
    if (identity->url.empty() || identity->name.empty() || identity->held == 0) std::abort();
    if (identity->length != 0 && identity->held >= identity->length) std::abort();
    if (identity->name.find('/') != std::string::npos) std::abort();
    for (const char c : identity->etag + identity->lastModified + identity->url) {
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7F) std::abort();
    }
    // Each identity has one way of being written: the file is that way.
    if (dl::EncodePartIdentity(*identity) != text) std::abort();
    return 0;
}
