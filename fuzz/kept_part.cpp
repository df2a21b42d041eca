// What identifies a part file (a kept one, or one a program was writing
// when it was killed), read back from its file on disk: any bytes there are
// either exactly one identity or none.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "download/files/KeptPart.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto identity = dl::ParsePartIdentity(text);
    if (!identity) return 0;
    // Only an identity the transfer could have kept (held bytes, no boot) or
    // written while it wrote (a boot, perhaps nothing synced yet) reads as one.
    if (identity->url.empty() || identity->name.empty()) std::abort();
    if (identity->boot.empty() ? identity->held == 0 : identity->boot.size() > 64) std::abort();
    if (identity->length != 0 && identity->held >= identity->length) std::abort();
    if (identity->name.find('/') != std::string::npos) std::abort();
    for (const char c : identity->etag + identity->lastModified + identity->url + identity->boot) {
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7F) std::abort();
    }
    // Each identity has one way of being written: the file is that way.
    if (dl::EncodePartIdentity(*identity) != text) std::abort();
    // What it lets a later run take up lies within the file and the song.
    for (const std::uint64_t fileSize : {std::uint64_t(0), identity->held, identity->held + 1000}) {
        const std::uint64_t trusted = dl::TrustedBytes(*identity, fileSize, identity->boot);
        if (trusted > fileSize || (identity->length != 0 && trusted >= identity->length)) std::abort();
    }
    return 0;
}
