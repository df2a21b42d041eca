// URL texts through splitting, joining and path merging.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/NetGlobal.h"
#include "http/NetURI.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    net::TNetURI uri(input);
    try {
        const std::string full = uri.FullURI(true, true);
        // What was built parses again without trouble.
        net::TNetURI again(full);
        (void)again.FullURI(false, false);
        (void)uri.URIText();
    } catch (const net::ENetURIException&) {
    }

    // The input's halves as base path and relative path.
    const std::size_t half = size / 2;
    const std::string merged = net::TNetURI::MergePath(input.substr(0, half), input.substr(half), "/");
    if (merged.size() > size + 1) __builtin_trap();

    std::string text(input);
    net::NormalizeSlashes(text);
    if (text.size() != size) __builtin_trap();
    (void)net::LastPos("/", text, static_cast<std::int32_t>(half));
    std::string rest = text;
    (void)net::CutToken(rest, "://", true, false);
    return 0;
}
